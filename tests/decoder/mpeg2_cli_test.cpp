// zembra decode SOURCE -o FILE.y4m against ffmpeg's decoding of the same
// source: a raw stream, a program stream, and a DVD title with --title.

#include <cstdlib>
#include <sstream>

#include "mpeg2_test_support.h"

namespace zembra::testing {
namespace {

std::string zembraBinary() { return std::string(ZEMBRA_BINARY_DIR) + "/src/cli/zembra"; }

struct Y4m {
    std::string header;
    int width = 0, height = 0;
    std::vector<const uint8_t*> frames;  // into bytes
    std::vector<uint8_t> bytes;
};

// A 4:2:0 YUV4MPEG2 file as written by the decode command.
Y4m readY4m(const std::string& path) {
    Y4m y;
    y.bytes = readFile(path);
    const auto eol = std::find(y.bytes.begin(), y.bytes.end(), uint8_t('\n'));
    y.header.assign(y.bytes.begin(), eol);
    std::istringstream fields(y.header);
    for (std::string f; fields >> f;) {
        if (f[0] == 'W') y.width = std::atoi(f.c_str() + 1);
        if (f[0] == 'H') y.height = std::atoi(f.c_str() + 1);
    }
    const size_t frameSize = size_t(y.width) * y.height * 3 / 2;
    size_t pos = size_t(eol - y.bytes.begin()) + 1;
    while (frameSize && pos + 6 + frameSize <= y.bytes.size() &&
           std::equal(y.bytes.begin() + long(pos), y.bytes.begin() + long(pos) + 6, "FRAME\n")) {
        y.frames.push_back(y.bytes.data() + pos + 6);
        pos += 6 + frameSize;
    }
    return y;
}

int run(const std::string& args) {
    return std::system((zembraBinary() + " " + args + " 2>/dev/null").c_str());
}

// Every frame's luma PSNR against the reference frames (raw yuv420p).
void expectMatches(const Y4m& ours, const std::vector<uint8_t>& ref, size_t expectedFrames) {
    const size_t luma = size_t(ours.width) * ours.height, frameSize = luma * 3 / 2;
    ASSERT_GT(luma, 0u);
    EXPECT_EQ(ours.frames.size(), expectedFrames);
    for (size_t k = 0; k < ours.frames.size() && (k + 1) * frameSize <= ref.size(); ++k)
        EXPECT_GE(psnr(ours.frames[k], ref.data() + k * frameSize, luma), 45.0) << "frame " << k;
}

#define ZEMBRA_REQUIRE_CLI()                                                          \
    if (!std::filesystem::exists(zembraBinary())) GTEST_SKIP() << "zembra not built"; \
    if (!haveTool("ffmpeg")) {                                                        \
        if (std::getenv("CI")) FAIL() << "ffmpeg missing";                            \
        GTEST_SKIP() << "ffmpeg missing";                                             \
    }

TEST(DecodeCommand, StreamsToY4mLikeFfmpeg) {
    ZEMBRA_REQUIRE_CLI();
    for (const char* name : {"prog.m2v", "ps.vob"}) {
        ZEMBRA_REQUIRE_STREAM(path, name);
        const std::string out = std::string(ZEMBRA_BINARY_DIR) + "/decode_cli_" + name + ".y4m";
        ASSERT_EQ(run("decode '" + path + "' -o '" + out + "'"), 0) << name;
        const Y4m ours = readY4m(out);
        EXPECT_EQ(ours.header, "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C420jpeg") << name;
        const std::vector<uint8_t> ref = ffmpegDecode(path, "yuv420p");
        expectMatches(ours, ref, ref.size() / (352 * 288 * 3 / 2));
    }
}

TEST(DecodeCommand, DvdTitleAndFrameCount) {
    ZEMBRA_REQUIRE_CLI();
    const std::string disc = std::string(ZEMBRA_SOURCE_DIR) + "/samples/VIDEO_TS";
    const std::string ref = std::string(ZEMBRA_BINARY_DIR) + "/sample_disc_cli.yuv";
    if (!std::filesystem::exists(ref)) {
        const std::string cmd = "ffmpeg -nostdin -v error -y -i '" + disc +
                                "/VTS_01_1.VOB' -map 0:v -frames:v 30 -fps_mode passthrough -f "
                                "rawvideo -pix_fmt yuv420p '" +
                                ref + ".tmp' && mv '" + ref + ".tmp' '" + ref + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    const std::string out = std::string(ZEMBRA_BINARY_DIR) + "/decode_cli_title.y4m";
    ASSERT_EQ(run("decode '" + disc + "' --title 0 --frames 30 -o '" + out + "'"), 0);
    const Y4m ours = readY4m(out);
    EXPECT_EQ(ours.width, 720);
    EXPECT_EQ(ours.height, 576);
    expectMatches(ours, readFile(ref), 30);
    // The folder or its IFO without --title: the first title.
    for (const std::string& source : {disc, disc + "/VTS_01_0.IFO"}) {
        ASSERT_EQ(run("decode '" + source + "' --frames 30 -o '" + out + "'"), 0) << source;
        expectMatches(readY4m(out), readFile(ref), 30);
    }
    // A title that is not there fails without output.
    EXPECT_NE(run("decode '" + disc + "' --title 9 -o '" + out + ".none'"), 0);
    EXPECT_FALSE(std::filesystem::exists(out + ".none"));
}

}  // namespace
}  // namespace zembra::testing
