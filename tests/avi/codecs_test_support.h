#pragma once
// What the codec tests share: ffmpeg/ffprobe as oracles, a clip of test
// pictures read from ffmpeg one frame at a time, and the Xvid/LAME skips.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "avi/codecs/mp3_library.h"
#include "avi/codecs/video_compressor.h"
#include "support/tools.h"

namespace zembra::testing {

inline std::string codecRun(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = ::pclose(p);
    if (status) *status = rc;
    return out;
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace zembra::testing

#define CODECS_REQUIRE_FFMPEG()                                                                \
    do {                                                                                       \
        if (!::zembra::testing::haveTool("ffmpeg") || !::zembra::testing::haveTool("ffprobe")) \
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";                                    \
    } while (0)
#define CODECS_REQUIRE_XVID()                                                      \
    do {                                                                           \
        if (!::zembra::avi::xvidLibraryLoaded()) GTEST_SKIP() << "no libxvidcore"; \
    } while (0)
#define CODECS_REQUIRE_LAME()                                                           \
    do {                                                                                \
        if (!::zembra::avi::Mp3Library::instance().loaded()) GTEST_SKIP() << "no LAME"; \
    } while (0)

namespace zembra::testing {

// Test pictures from ffmpeg (testsrc2 with moving film grain, so the rate
// control has real work), read one frame at a time without touching disk.
class FfmpegClip {
public:
    // grain: strength of the moving noise (ffmpeg's noise filter, 0..100).
    // pixFmt "bgr24", "bgra" (bottom-up, as DIBs are) or "yuyv422" (top-down).
    FfmpegClip(int width, int height, int fps, int frames, const std::string& pixFmt, int grain = 6)
        : frameBytes_(size_t(width) * height *
                      (pixFmt == "bgr24"  ? 3
                       : pixFmt == "bgra" ? 4
                                          : 2)) {
        std::string flip = pixFmt == "yuyv422" ? "" : ",vflip";
        std::string cmd =
            "ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
            std::to_string(height) + ":rate=" + std::to_string(fps) +
            " -vf noise=alls=" + std::to_string(grain) + ":allf=t" + flip + " -frames:v " +
            std::to_string(frames) + " -f rawvideo -pix_fmt " + pixFmt + " -";
        pipe_ = ::popen(cmd.c_str(), "r");
        frame_.resize(frameBytes_);
    }
    ~FfmpegClip() {
        if (pipe_) ::pclose(pipe_);
    }
    FfmpegClip(const FfmpegClip&) = delete;
    FfmpegClip& operator=(const FfmpegClip&) = delete;

    // The next picture, or nullptr at the end.
    const uint8_t* next() {
        if (pipe_ == nullptr) return nullptr;
        if (std::fread(frame_.data(), 1, frameBytes_, pipe_) != frameBytes_) return nullptr;
        return frame_.data();
    }

private:
    size_t frameBytes_;
    FILE* pipe_ = nullptr;
    std::vector<uint8_t> frame_;
};

}  // namespace zembra::testing
