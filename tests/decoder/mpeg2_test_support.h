#pragma once
// Test streams made by ffmpeg/mpeg2enc (tools/make-test-streams.sh) and
// ffmpeg's own decoding of them, cached in the build tree; and a helper that
// runs our decoder over a file and keeps the luma of every emitted picture.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "decoder/mpeg2_decoder.h"
#include "dvd/title_catalogue.h"
#include "support/recording_host.h"

namespace zembra::testing {

inline bool haveTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string streamDir() { return std::string(ZEMBRA_BINARY_DIR) + "/test-streams"; }

// Path of a test stream, made on first use; empty when the tools are missing.
inline std::string testStream(const std::string& name) {
    const std::string path = streamDir() + "/" + name;
    if (std::filesystem::exists(path)) return path;
    if (!haveTool("ffmpeg")) return {};
    const std::string cmd = std::string(ZEMBRA_SOURCE_DIR) + "/tools/make-test-streams.sh " +
                            streamDir() + " " + name + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return {};
    return std::filesystem::exists(path) ? path : std::string();
}

#define ZEMBRA_REQUIRE_STREAM(var, name)                                       \
    const std::string var = ::zembra::testing::testStream(name);               \
    if (var.empty()) {                                                         \
        if (std::getenv("CI")) FAIL() << "cannot make test stream " << name;   \
        GTEST_SKIP() << "ffmpeg/mpeg2enc missing";                             \
    }

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// ffmpeg's decoding of a stream as raw planar frames (every coded picture).
inline std::vector<uint8_t> ffmpegDecode(const std::string& stream, const char* pixFmt) {
    const std::string out = stream + "." + pixFmt + ".ref";
    if (!std::filesystem::exists(out)) {
        const std::string cmd = "ffmpeg -nostdin -v error -y -i '" + stream +
                                "' -fps_mode passthrough -f rawvideo -pix_fmt " + pixFmt + " '" +
                                out + ".tmp' && mv '" + out + ".tmp' '" + out + "'";
        if (std::system(cmd.c_str()) != 0) return {};
    }
    return readFile(out);
}

struct DecodedStream {
    int width = 0, height = 0;  // display size
    int chromaFormat = 1;
    double rate = 0;
    std::vector<std::vector<uint8_t>> luma;  // display size
    int openResult = 0;
};

inline DecodedStream decodeFile(const std::string& path, int idctSetting, int maxFrames = -1,
                                bool flush = true, int detect24 = 0, int force24 = 0) {
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    DecodedStream out;
    dec.hooks.emitFrame = [&](const DecodedPicture& p) {
        const int w = std::min(dec.horizontalSize, p.width), h = std::min(dec.verticalSize, p.height);
        out.width = w;
        out.height = h;
        out.chromaFormat = p.chromaFormat;
        std::vector<uint8_t> y(size_t(w) * h);
        for (int r = 0; r < h; ++r)
            std::copy_n(p.planes[0] + size_t(r) * p.width, w, y.begin() + size_t(r) * w);
        out.luma.push_back(std::move(y));
    };
    dec.setRunMode(kRunVideoOnly);
    DecoderOpenParams params;
    params.files = {path};
    params.idct = idctSetting;
    params.detect24Fps = detect24;
    params.force24 = force24;
    int chroma, w, h;
    out.openResult = dec.openDecoder(params, out.rate, chroma, w, h);
    if (!out.openResult) return out;
    while ((maxFrames < 0 || int(out.luma.size()) < maxFrames) && dec.decodeStep()) {
    }
    if (flush) dec.flushLastReference();
    dec.closeDecoder();
    return out;
}

inline double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

}  // namespace zembra::testing
