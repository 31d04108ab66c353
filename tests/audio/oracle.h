#pragma once
// Streams made by ffmpeg at test time (cached in the build tree), their
// reference decodings, and the comparisons the audio tests share.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/tools.h"

namespace zembra::testing {

inline std::string fixturePath(const std::string& name) {
    auto dir = std::filesystem::path(ZEMBRA_BINARY_DIR) / "test-fixtures" / "audio";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

// Runs `ffmpeg -y <args> OUT` once; later calls reuse the file. Returns the
// path, or "" when ffmpeg failed.
inline std::string ffmpegFixture(const std::string& name, const std::string& args) {
    // The arguments are part of the name, so a changed recipe makes a new file.
    char tag[20];
    std::snprintf(tag, sizeof tag, "%016zx", std::hash<std::string>{}(args));
    auto dot = name.rfind('.');
    std::string out = fixturePath(name.substr(0, dot) + "-" + tag + name.substr(dot));
    if (std::filesystem::exists(out) && std::filesystem::file_size(out) > 0) return out;
    std::string tmp = out + ".part" + std::filesystem::path(name).extension().string();
    std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y " + args + " '" + tmp + "'";
    if (std::system(cmd.c_str()) != 0) return "";
    std::filesystem::rename(tmp, out);
    return out;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

template <typename T>
std::vector<T> readSamples(const std::string& path) {
    auto bytes = readBytes(path);
    std::vector<T> v(bytes.size() / sizeof(T));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
    return v;
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// Signal-to-noise ratio (dB) of `test` against `reference`, both interleaved
// with `channels` channels, over the common length less `guard` frames at
// each end.
inline double snrDb(const std::vector<double>& test, const std::vector<double>& reference,
                    int channels = 2, size_t guard = 0) {
    size_t frames = std::min(test.size(), reference.size()) / size_t(channels);
    double signal = 0, noise = 0;
    for (size_t i = guard * channels; i + guard * channels < frames * channels; ++i) {
        signal += reference[i] * reference[i];
        noise += (test[i] - reference[i]) * (test[i] - reference[i]);
    }
    if (noise == 0) return 200.0;
    return 10.0 * std::log10(signal / noise);
}

template <typename T>
std::vector<double> toDouble(const std::vector<T>& v, double scale = 1.0) {
    std::vector<double> d(v.size());
    for (size_t i = 0; i < v.size(); ++i) d[i] = double(v[i]) * scale;
    return d;
}

}  // namespace zembra::testing
