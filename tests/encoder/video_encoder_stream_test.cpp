// The encoder's streams through ffmpeg: they decode without an error line, with
// exactly the pictures fed, in display order and at a sound quality.

#include "venc_support.h"

namespace zembra::venctest {
namespace {

struct StreamCase {
    bool mpeg2;
    int w, h;
    double fps;
    int kbps;
    int frames;
    int dct;
    int quantMat;
    bool simd;
    int motionSearch = 0;
};

// Readable CTest names.
void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << (c.mpeg2 ? "mpeg2_" : "mpeg1_") << c.w << "x" << c.h << "_" << c.frames << "pictures"
        << (c.motionSearch == kBestMotionSearch ? "_best" : "");
}

class StreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamTest, DecodesEveryPictureInOrder) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    const StreamCase c = GetParam();
    EncoderParams p = params(c.mpeg2, c.w, c.h, c.fps, c.kbps, c.frames);
    p.dctChoice = c.dct;
    p.quantMat = c.quantMat;
    p.simd = c.simd;
    p.motionSearch = c.motionSearch;
    applyStreamTables(p);
    std::vector<Picture> pics;
    for (int n = 0; n < c.frames; ++n) pics.push_back(synthetic(c.w, c.h, n));
    EncodeResult r = encode(p, pics, makeKernels(cpuLevel()));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(static_cast<int>(r.units.size()), c.frames);
    const std::string name =
        std::string(c.mpeg2 ? "s" : "s1") + "_" + std::to_string(c.w) + "x" + std::to_string(c.h) +
        "_" + std::to_string(c.frames) + "_" + std::to_string(c.dct) + std::to_string(c.quantMat) +
        (c.simd ? "s" : "p") + std::to_string(c.motionSearch) + (c.mpeg2 ? ".m2v" : ".m1v");
    fs::path es = workDir("streams") / name;
    writeFile(es, r.es);
    Decoded d = ffmpegDecode(es, c.w, c.h);
    EXPECT_EQ(d.errors, "");
    ASSERT_EQ(static_cast<int>(d.pictures.size()), c.frames);
    double worst = 99;
    for (int n = 0; n < c.frames; ++n) {
        double q = psnr(d.pictures[n].y, pics[n].y);
        worst = std::min(worst, q);
        // Each output picture must be closer to its own source than to its
        // neighbours: pictures come out in display order.
        if (n + 1 < c.frames) {
            EXPECT_GT(q, psnr(d.pictures[n].y, pics[n + 1].y)) << n;
        }
    }
    EXPECT_GT(worst, 24.0);
    RecordProperty("worst_psnr", std::to_string(worst));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, StreamTest,
    ::testing::Values(StreamCase{false, 352, 240, 29.97, 1150, 31, 0, 0, true},
                      StreamCase{false, 352, 288, 25, 1150, 20, 2, 1, false},
                      StreamCase{true, 480, 576, 25, 2350, 31, 0, 0, true},
                      StreamCase{true, 352, 288, 25, 3000, 13, 2, 1, false},
                      StreamCase{true, 720, 480, 29.97, 6000, 17, 1, 0, true},
                      // Best's own matrices: a transmitted intra
                      // matrix, MPEG's non-intra one.
                      StreamCase{true, 480, 576, 25, 2350, 16, 0, 0, true, kBestMotionSearch},
                      StreamCase{false, 352, 288, 25, 1150, 16, 0, 0, true, kBestMotionSearch}));

}  // namespace
}  // namespace zembra::venctest
