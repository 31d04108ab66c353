// The four inverse transforms: AP-922 plain against SSE2 (bit-identical)
// and against its DC-only shortcut, accuracy against the double-precision
// reference on IEEE 1180 inputs, and the variants' own rules.

#include "decoder/idct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "support/cpu_levels.h"

namespace zembra {
namespace {

bool longTests() { return std::getenv("ZEMBRA_LONG_TESTS") != nullptr; }

// IEEE 1180 random residuals in [-low, high], forward DCT in double, rounded
// and clamped to the coefficient range.
void ieeeBlock(std::mt19937& rng, int low, int high, int sign, int16_t* out, double* exact) {
    std::uniform_int_distribution<int> dist(-low, high);
    double x[64];
    for (int i = 0; i < 64; ++i) x[i] = sign * dist(rng);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int y = 0; y < 8; ++y)
                for (int xx = 0; xx < 8; ++xx)
                    s += x[y * 8 + xx] * std::cos((2 * xx + 1) * u * M_PI / 16) *
                         std::cos((2 * y + 1) * v * M_PI / 16);
            s *= 0.25 * (u ? 1 : M_SQRT1_2) * (v ? 1 : M_SQRT1_2);
            const double r = std::floor(s + 0.5);
            out[v * 8 + u] = int16_t(std::clamp(r, -2048.0, 2047.0));
        }
    if (exact) {
        int16_t copy[64];
        std::memcpy(copy, out, sizeof copy);
        for (int i = 0; i < 64; ++i) exact[i] = copy[i];
    }
}

void expectAp922EqualsPlain(const IdctKernels& simd) {
    std::mt19937 rng(1180);
    const long count = longTests() ? 10000000 : 400000;
    std::uniform_int_distribution<int> full(-2048, 2047), small(-64, 64), which(0, 3);
    alignas(16) int16_t a[64], b[64];
    for (long n = 0; n < count; ++n) {
        const int kind = which(rng);
        for (int i = 0; i < 64; ++i) {
            if (kind == 0)
                a[i] = int16_t(full(rng));
            else if (kind == 1)
                a[i] = int16_t(small(rng));
            else if (kind == 2)
                a[i] = (rng() & 7) ? 0 : int16_t(full(rng));  // sparse
            else
                a[i] = int16_t((rng() & 1) ? 32767 : -32768);  // saturation everywhere
        }
        std::memcpy(b, a, sizeof a);
        idctAp922Plain(a);
        simd.ap922(b);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "block " << n;
    }
    // The IEEE 1180 input ranges.
    for (int range : {256, 5, 300})
        for (int sign : {1, -1})
            for (int n = 0; n < 10000; ++n) {
                ieeeBlock(rng, range, range == 256 ? 255 : range, sign, a, nullptr);
                std::memcpy(b, a, sizeof a);
                idctAp922Plain(a);
                simd.ap922(b);
                ASSERT_EQ(std::memcmp(a, b, sizeof a), 0);
            }
}

TEST(IdctKernels, Ap922SimdEqualsPlainOnRandomAndExtremeBlocks) {
    // Levels that share an entry test it once.
    std::vector<void (*)(int16_t*)> tested{idctAp922Plain};
    for (CpuLevel level : testing::simdLevels()) {
        const IdctKernels simd = makeIdctKernels(level);
        if (std::find(tested.begin(), tested.end(), simd.ap922) != tested.end()) continue;
        tested.push_back(simd.ap922);
        SCOPED_TRACE(cpuLevelName(level));
        expectAp922EqualsPlain(simd);
    }
    if (tested.size() == 1) GTEST_SKIP() << "no SIMD kernel on this machine";
}

// The shortcut for a block with nothing but its DC gives the full
// transform's values for every DC a block can hold, saturating ones too.
TEST(IdctKernels, Ap922DcOnlyEqualsPlainForEveryDc) {
    for (int dc = -32768; dc <= 32767; ++dc) {
        alignas(16) int16_t full[64] = {}, shortcut[64] = {};
        full[0] = shortcut[0] = int16_t(dc);
        idctAp922Plain(full);
        idctAp922DcOnly(shortcut);
        ASSERT_EQ(std::memcmp(full, shortcut, sizeof full), 0) << "DC " << dc;
    }
}

// Peak, mean square and mean errors of a transform against the reference
// (double, floor(x + 0.5)) over IEEE 1180 inputs.
struct Accuracy {
    int peak = 0;
    double worstMse = 0, overallMse = 0, worstMean = 0, overallMean = 0;
};

Accuracy measure(void (*idct)(int16_t*), int low, int high, int sign, int blocks, bool clip) {
    std::mt19937 rng(unsigned(low * 7 + sign + 3));
    double err[64] = {}, sq[64] = {};
    Accuracy acc;
    alignas(16) int16_t in[64], got[64], ref[64];
    for (int n = 0; n < blocks; ++n) {
        ieeeBlock(rng, low, high, sign, in, nullptr);
        std::memcpy(got, in, sizeof in);
        std::memcpy(ref, in, sizeof in);
        idct(got);
        // Exact reference, clipped to [-256, 255] like the transform under test.
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                double s = 0;
                for (int v = 0; v < 8; ++v)
                    for (int u = 0; u < 8; ++u)
                        s += (u ? 0.5 : std::sqrt(0.125)) * (v ? 0.5 : std::sqrt(0.125)) *
                             std::cos((2 * x + 1) * u * M_PI / 16) *
                             std::cos((2 * y + 1) * v * M_PI / 16) * in[v * 8 + u];
                double r = std::floor(s + 0.5);
                if (clip) r = std::clamp(r, -256.0, 255.0);
                ref[y * 8 + x] = int16_t(r);
            }
        for (int i = 0; i < 64; ++i) {
            const int e = got[i] - ref[i];
            acc.peak = std::max(acc.peak, std::abs(e));
            err[i] += e;
            sq[i] += e * e;
        }
    }
    for (int i = 0; i < 64; ++i) {
        acc.worstMse = std::max(acc.worstMse, sq[i] / blocks);
        acc.worstMean = std::max(acc.worstMean, std::fabs(err[i]) / blocks);
        acc.overallMse += sq[i] / blocks / 64;
        acc.overallMean += err[i] / blocks / 64;
    }
    acc.overallMean = std::fabs(acc.overallMean);
    return acc;
}

TEST(InverseTransforms, MeetIeee1180AccuracyOnItsRanges) {
    const int blocks = longTests() ? 10000 : 1000;
    for (auto fn : {idctAp922Plain, idctFastFloat}) {
        for (int range : {256, 5, 300})
            for (int sign : {1, -1}) {
                const Accuracy a = measure(fn, range, range == 256 ? 255 : range, sign, blocks,
                                           fn != idctAp922Plain);
                std::printf(
                    "[ ieee1180 ] %s range %d sign %d: peak %d, mse %.4f/%.4f, mean %.4f/%.5f\n",
                    fn == idctAp922Plain ? "AP-922" : "float", range, sign, a.peak, a.worstMse,
                    a.overallMse, a.worstMean, a.overallMean);
                EXPECT_LE(a.peak, 1) << range << " " << sign;
                EXPECT_LE(a.worstMse, 0.06);
                EXPECT_LE(a.overallMse, 0.02);
                EXPECT_LE(a.worstMean,
                          0.015 + (longTests() ? 0 : 0.02));  // fewer blocks, more noise
                EXPECT_LE(a.overallMean, 0.0015 + (longTests() ? 0 : 0.003));
            }
    }
}

TEST(InverseTransforms, VariantRules) {
    // Reference: all zero but the lowest bit of coefficient 63 stays zero.
    int16_t b[64] = {};
    b[63] = 1;
    idctReference(b);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(b[i], 0);
    // Reference and fast float clip to [-256, 255]; AP-922 does not.
    int16_t big[64] = {}, big2[64] = {}, big3[64] = {};
    big[0] = big2[0] = big3[0] = 2047 * 8;  // unsaturated large DC
    idctReference(big);
    idctFastFloat(big2);
    idctAp922Plain(big3);
    EXPECT_EQ(big[0], 255);
    EXPECT_EQ(big2[0], 255);
    EXPECT_GT(big3[0], 255);
    // A DC-only block is flat in every variant: DC 80 -> 10.
    for (auto fn : {idctAp922Plain, idctFastFloat, idctReference}) {
        int16_t dc[64] = {};
        dc[0] = 80;
        fn(dc);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(dc[i], 10);
    }
    // The fast float and the reference transform agree within rounding.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> d(-300, 300);
    for (int n = 0; n < 2000; ++n) {
        int16_t x[64], y[64];
        for (int i = 0; i < 64; ++i) x[i] = y[i] = (rng() & 3) ? 0 : int16_t(d(rng));
        idctFastFloat(x);
        idctReference(y);
        for (int i = 0; i < 64; ++i) ASSERT_LE(std::abs(x[i] - y[i]), 1);
    }
}

TEST(InverseTransforms, SettingMapsToVariant) {
    IdctVariant v;
    ASSERT_TRUE(idctVariantFromSetting(0, v));
    EXPECT_EQ(v, IdctVariant::Ap922);
    ASSERT_TRUE(idctVariantFromSetting(1, v));
    EXPECT_EQ(v, IdctVariant::Reference);
    ASSERT_TRUE(idctVariantFromSetting(2, v));
    EXPECT_EQ(v, IdctVariant::FastFloat);
    ASSERT_TRUE(idctVariantFromSetting(4, v));
    EXPECT_EQ(v, IdctVariant::Ap922Shuffle);
    EXPECT_FALSE(idctVariantFromSetting(3, v));
}

}  // namespace
}  // namespace zembra
