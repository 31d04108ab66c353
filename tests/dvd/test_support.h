#pragma once
// Fixtures of the DVD source tests: discs made by tools/make-test-disc.sh
// in the build tree (cached), scratch files, whole-file reads.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support/tone.h"
#include "support/tools.h"

namespace zembra::testing {

inline bool toolsMissing(std::initializer_list<const char*> tools) {
    for (const char* t : tools)
        if (!haveTool(t)) return true;
    return false;
}

// Makes (or reuses) a test disc; "" when the oracle tools are missing.
inline std::string makeDisc(const std::string& name, const std::string& options) {
    std::string out = std::string(ZEMBRA_BINARY_DIR) + "/test-discs/" + name;
    std::string cmd = std::string(ZEMBRA_SOURCE_DIR) + "/tools/make-test-disc.sh --out '" + out +
                      "' " + options + " >/dev/null";
    if (std::system(cmd.c_str()) != 0) return "";
    return out;
}

// Skips the test when a disc could not be made, fails in CI.
#define ZEMBRA_REQUIRE_DISC(dir)                                            \
    do {                                                                    \
        if ((dir).empty()) {                                                \
            if (std::getenv("CI")) FAIL() << "test disc could not be made"; \
            GTEST_SKIP() << "ffmpeg/dvdauthor/spumux/genisoimage missing";  \
        }                                                                   \
    } while (0)

inline std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

inline void writeAll(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

inline std::string scratchDir(const std::string& name) {
    auto dir = std::filesystem::path(ZEMBRA_BINARY_DIR) / "test-scratch" / "dvd" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

// A file of n sectors whose every sector starts with its absolute number
// (first + i) and is filled with its low byte.
inline void writeNumberedSectors(const std::string& path, uint32_t first, uint32_t n) {
    std::vector<uint8_t> data(size_t(n) * 2048);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t s = first + i;
        uint8_t* p = &data[size_t(i) * 2048];
        std::memset(p, int(s & 0xFF), 2048);
        p[0] = uint8_t(s >> 24);
        p[1] = uint8_t(s >> 16);
        p[2] = uint8_t(s >> 8);
        p[3] = uint8_t(s);
    }
    writeAll(path, data);
}

// The tone of a 16-bit stereo WAV file (0 when it has no data chunk).
inline double wavToneHz(const std::string& path) {
    const std::vector<uint8_t> bytes = readAll(path);
    if (bytes.size() < 44) return 0.0;
    const int rate = bytes[24] | bytes[25] << 8 | bytes[26] << 16 | bytes[27] << 24;
    for (size_t i = 12; i + 8 <= bytes.size();
         i += 8 + (size_t(bytes[i + 4]) | size_t(bytes[i + 5]) << 8 | size_t(bytes[i + 6]) << 16 |
                   size_t(bytes[i + 7]) << 24)) {
        if (std::memcmp(&bytes[i], "data", 4) != 0) continue;
        std::vector<int16_t> pcm((bytes.size() - i - 8) / 2);
        for (size_t k = 0; k < pcm.size(); ++k)
            pcm[k] = int16_t(bytes[i + 8 + 2 * k] | bytes[i + 9 + 2 * k] << 8);
        return toneHz(pcm, rate);
    }
    return 0.0;
}

inline uint32_t sectorNumber(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline std::string zembraBinary() { return std::string(ZEMBRA_BINARY_DIR) + "/src/cli/zembra"; }

// Runs a command; its exit status and its output (standard error included).
inline std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return {-1, out};
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

#define ZEMBRA_REQUIRE_BINARY()                                          \
    do {                                                                 \
        if (!std::filesystem::exists(::zembra::testing::zembraBinary())) \
            GTEST_SKIP() << "zembra not built";                          \
    } while (0)

}  // namespace zembra::testing
