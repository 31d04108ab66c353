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

// The levels that leave MPEG-2's mismatch control idle: on random blocks at
// quantisers where one level moved by one can make the rebuilt sum odd, the
// coder's own dequantiser (which toggles coefficient 63 of an even sum) then
// rebuilds the plain values; at most one level moves, by one, never the
// intra DC. Where every rebuilt value is even (the flat matrix at a multiple
// of 4, or of 2 for intra blocks) the block stays as it is.
constexpr double kAnyCost = 1e300;

TEST(LevelTrim, MakeSumOddLeavesTheMismatchToggleIdle) {
    const EncoderKernels k = plainKernels();
    std::array<std::uint8_t, 64> ramp{};
    for (int i = 0; i < 64; ++i) ramp[i] = static_cast<std::uint8_t>(8 + (i / 8 + i % 8) * 2);
    unsigned seed = 11;
    const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    int moved = 0;
    for (int round = 0; round < 600; ++round) {
        const bool intra = round % 2 == 1;
        const bool flat = round % 3 != 0;
        const int qs = std::array{3, 5, 6, 10, 14, 4, 8}[round % 7];
        const std::uint8_t* w = flat ? kFlat.data() : ramp.data();
        std::int16_t coef[64], level[64];
        for (int i = 0; i < 64; ++i) {
            const int lv = next() % 5 == 0 ? static_cast<int>(next() % 7) - 3 : 0;
            level[i] = static_cast<std::int16_t>(lv);
            coef[i] =
                static_cast<std::int16_t>(lv * w[i] * qs / 16 + static_cast<int>(next() % 9) - 4);
        }
        if (intra) level[0] = static_cast<std::int16_t>(next() % 256);
        TrimQuant tq;
        tq.matrix = w;
        tq.quantiserScale = qs;
        tq.intra = intra;
        std::int16_t after[64];
        std::copy(level, level + 64, after);
        const bool left = makeSumOdd(coef, after, tq, 8, 0.15 * qs * qs, kAnyCost);
        // Told the non-zero levels, the same move.
        std::int16_t masked[64];
        std::copy(level, level + 64, masked);
        const std::uint64_t nonZero = k.nonZeroMask(level);
        tq.nonZero = &nonZero;
        EXPECT_EQ(makeSumOdd(coef, masked, tq, 8, 0.15 * qs * qs, kAnyCost), left);
        EXPECT_TRUE(std::equal(after, after + 64, masked)) << "round " << round;

        int changed = 0, acLeft = 0;
        for (int i = 0; i < 64; ++i) {
            if (after[i] != level[i]) {
                ++changed;
                EXPECT_EQ(std::abs(std::abs(after[i]) - std::abs(level[i])), 1) << round;
                EXPECT_TRUE(after[i] == 0 || level[i] == 0 || (after[i] < 0) == (level[i] < 0));
            }
            if (i > 0 || !intra) acLeft += after[i] != 0;
        }
        EXPECT_LE(changed, 1) << "round " << round;
        if (intra) {
            EXPECT_EQ(after[0], level[0]);
        }
        EXPECT_EQ(left, acLeft > 0) << "round " << round;
        moved += changed;

        const bool allEven = flat && qs % (intra ? 2 : 4) == 0;
        if (allEven) {
            EXPECT_EQ(changed, 0) << "round " << round;
            continue;
        }
        if (!left && !intra) continue;  // an empty block is not coded
        std::int16_t rebuilt[64];
        k.dequant(after, rebuilt, w, qs, intra, true, 8);
        const int m = std::abs(after[63]);
        int plain63 = 0;
        if (m) plain63 = intra ? (m * w[63] * qs) >> 4 : ((2 * m + 1) * w[63] * qs) >> 5;
        EXPECT_EQ(std::abs(rebuilt[63]), plain63) << "round " << round;
    }
    EXPECT_GT(moved, 100);
}

// An intra block of DC alone (sum even) can only be made odd by a new level
// where the picture has none: at a price above what that costs it stays as
// it is; at no limit the level comes, one, where it costs least.
TEST(LevelTrim, MakeSumOddKeepsTheToggleWhenEveryMoveCostsMore) {
    std::int16_t coef[64] = {}, level[64] = {};
    level[0] = 64;
    coef[0] = 512;  // every AC coefficient 0: a new level adds 25 of error
    TrimQuant tq;
    tq.matrix = kFlat.data();
    tq.quantiserScale = 5;  // a level 1 rebuilds as 5, odd
    tq.intra = true;
    const double lambda = 0.15 * 25;
    std::int16_t kept[64];
    std::copy(level, level + 64, kept);
    EXPECT_FALSE(makeSumOdd(coef, kept, tq, 8, lambda, 2 * lambda));
    EXPECT_TRUE(std::equal(kept, kept + 64, level));
    EXPECT_TRUE(makeSumOdd(coef, kept, tq, 8, lambda, kAnyCost));
    EXPECT_EQ(kept[mpeg::kZigZag[1]], 1);
}

// The scales that leave a flat-matrix block's sum free to be made odd: not
// a multiple of 4 below 28, the nearest such; from 28 up the nearest of all.
TEST(QuantiserScale, OddSumScalesSkipMultiplesOfFourBelow28) {
    EXPECT_EQ(nearestOddSumScale(3.2), 3);
    EXPECT_EQ(nearestOddSumScale(4.4), 5);
    EXPECT_EQ(nearestOddSumScale(3.9), 3);
    EXPECT_EQ(nearestOddSumScale(8.0), 7);
    EXPECT_EQ(nearestOddSumScale(12.5), 14);
    EXPECT_EQ(nearestOddSumScale(24.0), 22);
    EXPECT_EQ(nearestOddSumScale(29.0), 28);
    EXPECT_EQ(nearestOddSumScale(100.0), 96);
    for (double x = 1; x < 26; x += 0.25) {
        const int s = nearestOddSumScale(x);
        EXPECT_NE(s % 4, 0) << x;
        EXPECT_EQ(quantiserScaleCode(s, true) > 0, true);
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

// After the truncating quantiser and the dead zone's rounding every level
// of a non-intra block is the one whose rebuilt value lies nearest, for
// flat and sloping weights, both signs and coarse and fine scales; levels
// the quantiser set are never moved.
TEST(QuantiserScale, DeadZoneRoundingTakesTheNearestRebuiltValue) {
    const EncoderKernels k = plainKernels();
    std::array<std::uint8_t, 64> sloped{};
    for (int i = 0; i < 64; ++i) sloped[i] = static_cast<std::uint8_t>(16 + i % 8 + i / 8);
    for (const std::uint8_t* matrix :
         {kFlat.data(), static_cast<const std::uint8_t*>(sloped.data())}) {
        for (int q : {1, 3, 8, 40}) {
            for (int base = -300; base < 300; base += 64) {
                alignas(32) std::int16_t coef[64], level[64], quantised[64];
                for (int i = 0; i < 64; ++i) coef[i] = static_cast<std::int16_t>(base + i);
                k.quantNonIntra(coef, quantised, matrix, q, 2047);
                std::copy(quantised, quantised + 64, level);
                const bool raised = roundOutOfDeadZone(k, coef, level, matrix, q);
                bool anyRaised = false;
                for (int i = 0; i < 64; ++i) {
                    if (quantised[i] != 0) {
                        EXPECT_EQ(level[i], quantised[i]);
                        continue;
                    }
                    anyRaised |= level[i] != 0;
                    // Rebuilt magnitudes in steps of w q / 16: 0, then 3/2.
                    const double x = std::abs(coef[i]) * 16.0 / (matrix[i] * q);
                    EXPECT_EQ(std::abs(level[i]), x >= 0.75 ? 1 : 0) << coef[i] << " q " << q;
                    if (level[i] != 0) {
                        EXPECT_EQ(level[i] > 0, coef[i] > 0);
                    }
                }
                EXPECT_EQ(raised, anyRaised);
            }
        }
    }
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
