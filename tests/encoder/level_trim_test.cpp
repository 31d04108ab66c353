// Rate-distortion trimming of quantised blocks and the quantiser scales a
// picture may use; and what they are for: the Best level at a high bit
// rate is at least as faithful as level 3.

#include "encoder/level_trim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "encoder/kernels.h"
#include "encoder/quantiser_scale.h"
#include "mpeg/scan_tables.h"
#include "venc_support.h"

namespace zembra {
namespace {

constexpr std::array<std::uint8_t, 64> flatMatrix() {
    std::array<std::uint8_t, 64> m{};
    for (auto& w : m) w = 16;
    return m;
}
constexpr std::array<std::uint8_t, 64> kFlat = flatMatrix();

// The written lengths: the short first code of a non-intra block, the table,
// and the escapes of MPEG-2 (24 bits) and MPEG-1 (20, or 28 from 128 up).
TEST(LevelTrim, RunLevelBitsAreTheWrittenLengths) {
    EXPECT_EQ(runLevelBits(0, 1, true, true), 2);
    EXPECT_EQ(runLevelBits(0, 1, false, true), 3);  // '11s'
    EXPECT_EQ(runLevelBits(1, 1, false, true), 4);  // '011s'
    EXPECT_EQ(runLevelBits(0, 41, false, true), 24);
    EXPECT_EQ(runLevelBits(40, 1, false, false), 20);
    EXPECT_EQ(runLevelBits(40, 200, false, false), 28);
}

// A lone small level late in the scan costs a long code for a little
// error: it goes at a high price of bits and stays at none; a large level
// early in the scan stays either way, and the intra DC is never touched.
TEST(LevelTrim, DropsWhatDoesNotPayAndKeepsTheRest) {
    const int q = 8;  // step 8 with the flat matrix
    std::int16_t coef[64] = {}, level[64] = {};
    const int late = mpeg::kZigZag[40];
    coef[0] = 400;
    coef[1] = 100;
    coef[late] = -13;  // level 1, rebuilt as 12
    level[0] = 12;
    level[1] = 12;
    level[late] = -1;
    TrimQuant tq;
    tq.matrix = kFlat.data();
    tq.quantiserScale = q;
    tq.intra = false;

    std::int16_t kept[64];
    std::copy(level, level + 64, kept);
    EXPECT_TRUE(trimLevels(coef, kept, tq, 0.0));
    EXPECT_EQ(kept[late], -1);

    std::int16_t trimmed[64];
    std::copy(level, level + 64, trimmed);
    EXPECT_TRUE(trimLevels(coef, trimmed, tq, 0.15 * q * q));
    EXPECT_EQ(trimmed[late], 0);
    EXPECT_EQ(trimmed[1], 12);
    EXPECT_EQ(trimmed[0], 12);

    // Intra: the DC (coded apart) stays even when nothing else is left.
    std::int16_t intra[64] = {};
    intra[0] = 100;
    intra[late] = 1;
    std::int16_t icoef[64] = {};
    icoef[0] = 800;
    icoef[late] = 9;
    tq.intra = true;
    EXPECT_FALSE(trimLevels(icoef, intra, tq, 1e6));
    EXPECT_EQ(intra[0], 100);
    EXPECT_EQ(intra[late], 0);
}

// A non-intra block whose levels all go reports itself empty, so that the
// coded block pattern leaves it out.
TEST(LevelTrim, AnEmptiedBlockIsReportedEmpty) {
    std::int16_t coef[64] = {}, level[64] = {};
    coef[mpeg::kZigZag[20]] = 9;
    level[mpeg::kZigZag[20]] = 1;
    TrimQuant tq;
    tq.matrix = kFlat.data();
    tq.quantiserScale = 8;
    EXPECT_FALSE(trimLevels(coef, level, tq, 0.15 * 64));
}

// Told which levels are non-zero (as the coder's kernel finds them), the
// trim visits only those and must lower exactly the same levels as when
// it looks at all 64 itself; the intra DC bit in the mask is ignored.
TEST(LevelTrim, TheNonZeroMaskGivesTheSameTrim) {
    const EncoderKernels k = plainKernels();
    unsigned seed = 7;
    const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 200; ++round) {
        std::int16_t coef[64], level[64];
        for (int i = 0; i < 64; ++i) {
            const int lv = next() % 4 == 0 ? static_cast<int>(next() % 7) - 3 : 0;
            level[i] = static_cast<std::int16_t>(lv);
            coef[i] = static_cast<std::int16_t>(lv * 16 + static_cast<int>(next() % 9) - 4);
        }
        TrimQuant tq;
        tq.matrix = kFlat.data();
        tq.quantiserScale = 8;
        tq.intra = round % 2 == 1;
        tq.mpeg2 = round % 3 != 0;
        std::int16_t plain[64], masked[64];
        std::copy(level, level + 64, plain);
        std::copy(level, level + 64, masked);
        const bool plainLeft = trimLevels(coef, plain, tq, 0.15 * 64);
        const std::uint64_t nonZero = k.nonZeroMask(level);
        tq.nonZero = &nonZero;
        EXPECT_EQ(trimLevels(coef, masked, tq, 0.15 * 64), plainLeft);
        EXPECT_TRUE(std::equal(plain, plain + 64, masked)) << "round " << round;
    }
}

TEST(QuantiserScale, CodesAndNearestScalesOfBothKinds) {
    // Linear: even scales, coded as half, from 2 to 62 (rounded as the
    // rate control always rounded them).
    EXPECT_EQ(quantiserScaleCode(2, false), 1);
    EXPECT_EQ(quantiserScaleCode(62, false), 31);
    EXPECT_EQ(nearestQuantiserScale(0.3, false), 2);
    EXPECT_EQ(nearestQuantiserScale(5.0, false), 6);
    EXPECT_EQ(nearestQuantiserScale(4.9, false), 4);
    EXPECT_EQ(nearestQuantiserScale(500, false), 62);
    // Non-linear: every table scale from 2 up codes to its own code.
    for (int code = 2; code < 32; ++code) {
        const int scale = mpeg::kNonLinearQuant[code];
        EXPECT_EQ(quantiserScaleCode(scale, true), code);
        EXPECT_EQ(nearestQuantiserScale(scale, true), scale);
    }
    EXPECT_EQ(nearestQuantiserScale(0.5, true), 2);
    EXPECT_EQ(nearestQuantiserScale(3.2, true), 3);
    EXPECT_EQ(nearestQuantiserScale(26, true), 24);
    EXPECT_EQ(nearestQuantiserScale(1000, true), 112);
}

// At a rate high enough for the finest quantiser, the Best level must not
// code coarser than level 3: its starting quantiser comes from measuring
// the first pictures, not from a guess made for another rate control.
TEST(LevelTrim, BestAtAHighRateIsAtLeastAsFaithfulAsLevel3) {
    using namespace venctest;
    const int w = 352, h = 288, n = 19;
    std::vector<Picture> pics;
    for (int i = 0; i < n; ++i) pics.push_back(synthetic(w, h, i));
    double worst[2] = {99, 99};
    int index = 0;
    for (int level : {3, kBestMotionSearch}) {
        EncoderParams p = params(true, w, h, 25, 6000, n);
        p.motionSearch = level;
        applyStreamTables(p);
        const EncodeResult r = encode(p, pics, makeKernels(cpuLevel()));
        ASSERT_TRUE(r.ok);
        const fs::path file = workDir("trim") / ("high-" + std::to_string(level) + ".m2v");
        writeFile(file, r.es);
        const Decoded d = ffmpegDecode(file, w, h);
        ASSERT_EQ(static_cast<int>(d.pictures.size()), n);
        for (int f = 0; f < n; ++f)
            worst[index] = std::min(worst[index], psnr(d.pictures[f].y, pics[f].y));
        ++index;
    }
    EXPECT_GE(worst[1], worst[0] - 0.5) << "level 3 " << worst[0] << " dB, Best " << worst[1];
}

}  // namespace
}  // namespace zembra
