// The encoder's kernel table: every SIMD entry against the plain one on random
// and worst-case blocks, and the transforms against a double-precision DCT
// with the IEEE 1180 accuracy limits.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "encoder/encoder_params.h"
#include "encoder/kernels.h"
#include "mpeg/bit_writer.h"

namespace zembra {
namespace {

// The comparisons with the plain kernels run for every level this processor
// has, whatever ZEMBRA_CPU says: an SSE2-only machine runs the SSE2 entries
// that AVX2 replaces here.
class EncoderKernelLevels : public ::testing::TestWithParam<CpuLevel> {};

// A 48x48 picture area with a guard so 16x16 kernels at (16,16) and the
// half-pel neighbours stay inside.
struct Area {
    static constexpr int kStride = 48;
    std::array<std::uint8_t, 48 * 48> px{};
    const std::uint8_t* at(int x, int y) const { return px.data() + y * kStride + x; }
};

Area randomArea(std::mt19937& rng, int kind) {
    Area a;
    for (auto& v : a.px) {
        switch (kind) {
            case 0:
                v = static_cast<std::uint8_t>(rng() & 255);
                break;
            case 1:
                v = 0;
                break;
            case 2:
                v = 255;
                break;
            default:
                v = static_cast<std::uint8_t>((rng() & 1) ? 255 : 0);
                break;
        }
    }
    return a;
}

TEST_P(EncoderKernelLevels, SimdDistortionMeasuresEqualThePlainOnes) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        const Area a = randomArea(rng, round % 4), b = randomArea(rng, (round / 4) % 4);
        const std::uint8_t* pa = a.at(16, 16);
        const int dx = static_cast<int>(rng() % 9) - 4, dy = static_cast<int>(rng() % 9) - 4;
        const std::uint8_t* pb = b.at(16 + dx, 16 + dy);
        const int full = plain.sad16(pa, pb, Area::kStride, 1 << 30);
        EXPECT_EQ(simd.sad16(pa, pb, Area::kStride, 1 << 30), full);
        // With a limit either both give the exact sum, or both stop above it.
        const int limit = static_cast<int>(rng() % 40000);
        const int sp = plain.sad16(pa, pb, Area::kStride, limit);
        const int ss = simd.sad16(pa, pb, Area::kStride, limit);
        if (full <= limit) {
            EXPECT_EQ(sp, full);
            EXPECT_EQ(ss, full);
        } else {
            EXPECT_GT(sp, limit);
            EXPECT_GT(ss, limit);
        }
        // The packed form: the same sums, the same rule at the limit.
        alignas(32) std::uint8_t packed[256];
        for (int y = 0; y < 16; ++y) std::memcpy(packed + 16 * y, pa + y * Area::kStride, 16);
        EXPECT_EQ(simd.sad16Packed(packed, pb, Area::kStride, 1 << 30), full);
        EXPECT_EQ(plain.sad16Packed(packed, pb, Area::kStride, 1 << 30), full);
        for (const int lim : {limit, full, full - 1, full / 4, 0}) {
            const int pp = plain.sad16Packed(packed, pb, Area::kStride, lim);
            const int ps = simd.sad16Packed(packed, pb, Area::kStride, lim);
            if (full <= lim) {
                EXPECT_EQ(pp, full);
                EXPECT_EQ(ps, full);
            } else {
                EXPECT_GT(pp, lim);
                EXPECT_GT(ps, lim);
            }
        }
        for (int hx = 0; hx < 2; ++hx)
            for (int hy = 0; hy < 2; ++hy)
                EXPECT_EQ(simd.sad16Half(pa, pb, Area::kStride, hx, hy),
                          plain.sad16Half(pa, pb, Area::kStride, hx, hy))
                    << hx << hy;
        std::array<std::uint8_t, 256> pred;
        for (int y = 0; y < 16; ++y) std::memcpy(pred.data() + 16 * y, pb + y * Area::kStride, 16);
        EXPECT_EQ(simd.ssd16(pa, Area::kStride, pred.data()),
                  plain.ssd16(pa, Area::kStride, pred.data()));
        EXPECT_EQ(simd.variance16(pa, Area::kStride), plain.variance16(pa, Area::kStride));
        EXPECT_EQ(simd.sum8(pa, Area::kStride), plain.sum8(pa, Area::kStride));
        int qa[4], qb[4];
        plain.quarterSums(pa, Area::kStride, qa);
        simd.quarterSums(pa, Area::kStride, qb);
        for (int q = 0; q < 4; ++q) {
            const int want =
                plain.sum8(pa + (q >> 1) * 8 * Area::kStride + (q & 1) * 8, Area::kStride);
            EXPECT_EQ(qa[q], want) << q;
            EXPECT_EQ(qb[q], want) << q;
        }
        if (round % 4 == 2) {  // all 255: no variance, however bright
            EXPECT_EQ(simd.sum8(pa, Area::kStride), 64 * 255);
            EXPECT_EQ(plain.variance16(pa, Area::kStride), 0);
            EXPECT_EQ(simd.variance16(pa, Area::kStride), 0);
        }
        for (bool fields : {false, true}) {
            // Each 8x8 block's 4096 x variance on its own, frame then field.
            const std::uint8_t* blocks[8] = {pa, pa + 8, pa + 8 * Area::kStride,
                                             pa + 8 * Area::kStride + 8};
            int want = 1 << 30;
            for (int b = 0; b < (fields ? 8 : 4); ++b) {
                const int step = b < 4 ? 1 : 2;
                const std::uint8_t* at =
                    b < 4 ? blocks[b] : pa + (b & 1) * 8 + (b >> 1 & 1) * Area::kStride;
                int s = 0, s2 = 0;
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) {
                        const int v = at[y * step * Area::kStride + x];
                        s += v;
                        s2 += v * v;
                    }
                want = std::min(want, 64 * s2 - s * s);
            }
            EXPECT_EQ(plain.leastVariance8(pa, Area::kStride, fields), want) << fields;
            EXPECT_EQ(simd.leastVariance8(pa, Area::kStride, fields), want) << fields;
        }
    }
}

// Activity takes the flattest 8x8 block of a macroblock, frame or field:
// each of the eight blocks made flat in turn, in noise, must be the one
// found, the field blocks only when fields count.
TEST_P(EncoderKernelLevels, LeastVarianceFindsEachFlatBlock) {
    const EncoderKernels simd = makeKernels(GetParam());
    std::mt19937 rng(41);
    for (int flat = 0; flat < 8; ++flat) {
        std::uint8_t mb[16 * 24];  // stride 24
        for (auto& v : mb) v = static_cast<std::uint8_t>(rng());
        const int x0 = (flat & 1) * 8;
        for (int y = 0; y < 8; ++y) {
            const int row = flat < 4 ? (flat >> 1) * 8 + y : 2 * y + ((flat >> 1) & 1);
            std::memset(mb + row * 24 + x0, 200, 8);
        }
        EXPECT_EQ(simd.leastVariance8(mb, 24, true), 0) << flat;
        if (flat < 4)
            EXPECT_EQ(simd.leastVariance8(mb, 24, false), 0) << flat;
        else
            EXPECT_GT(simd.leastVariance8(mb, 24, false), 0) << flat;
    }
}

// cos((2x + 1) u pi / 16) by [x][u].
const double (&cosTable())[8][8] {
    static double t[8][8];
    static bool made = false;
    if (!made) {
        const double pi = std::acos(-1.0);
        for (int x = 0; x < 8; ++x)
            for (int u = 0; u < 8; ++u) t[x][u] = std::cos((2 * x + 1) * u * pi / 16);
        made = true;
    }
    return t;
}

// Double-precision forward and inverse DCT of the standards' definition.
void referenceFdct(const std::int16_t* in, double* out) {
    const auto& c = cosTable();
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) s += in[y * 8 + x] * c[x][u] * c[y][v];
            const double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
            out[v * 8 + u] = s * cu * cv / 4;
        }
}

void referenceIdct(const std::int16_t* in, double* out) {
    const auto& c = cosTable();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    const double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
                    s += cu * cv * in[v * 8 + u] * c[x][u] * c[y][v];
                }
            out[y * 8 + x] = s / 4;
        }
}

// Error statistics of the IEEE 1180 test over `blocks` random blocks with
// values in [-low, high].
struct Accuracy {
    int peak = 0;
    double worstMse = 0, overallMse = 0, worstMean = 0, overallMean = 0;
};

template <typename Transform, typename Reference>
Accuracy measure(Transform transform, Reference reference, int low, int high, int blocks,
                 bool inputIsCoefficients) {
    std::mt19937 rng(1180);
    std::uniform_int_distribution<int> dist(-low, high);
    double sumErr[64] = {}, sumSq[64] = {};
    Accuracy acc;
    for (int n = 0; n < blocks; ++n) {
        std::int16_t in[64];
        for (auto& v : in) v = static_cast<std::int16_t>(dist(rng));
        if (inputIsCoefficients) {
            // Coefficients that a real residual block gives: the rounded
            // reference transform of random pixels, clipped as decoders do.
            double c[64];
            referenceFdct(in, c);
            for (int i = 0; i < 64; ++i)
                in[i] = static_cast<std::int16_t>(std::clamp(std::lround(c[i]), -2048L, 2047L));
        }
        double ref[64];
        reference(in, ref);
        std::int16_t out[64];
        transform(in, out);
        for (int i = 0; i < 64; ++i) {
            const long r = std::lround(ref[i]);
            const long want = inputIsCoefficients ? std::clamp(r, -256L, 255L) : r;
            int e = static_cast<int>(out[i] - want);
            // An exact half may round either way (the forward transform's
            // (0,4), (4,0) and (4,4) outputs are multiples of 1/8).
            if (!inputIsCoefficients &&
                std::fabs(std::fabs(ref[i] - std::trunc(ref[i])) - 0.5) < 1e-9 &&
                std::fabs(out[i] - ref[i]) < 0.5 + 1e-9)
                e = 0;
            acc.peak = std::max(acc.peak, std::abs(e));
            sumErr[i] += e;
            sumSq[i] += e * e;
        }
    }
    double totErr = 0, totSq = 0;
    for (int i = 0; i < 64; ++i) {
        acc.worstMse = std::max(acc.worstMse, sumSq[i] / blocks);
        acc.worstMean = std::max(acc.worstMean, std::fabs(sumErr[i] / blocks));
        totErr += sumErr[i];
        totSq += sumSq[i];
    }
    acc.overallMse = totSq / (64.0 * blocks);
    acc.overallMean = std::fabs(totErr) / (64.0 * blocks);
    return acc;
}

void expectIeee1180(const Accuracy& a, const char* what) {
    EXPECT_LE(a.peak, 1) << what;
    EXPECT_LE(a.worstMse, 0.06) << what;
    EXPECT_LE(a.overallMse, 0.02) << what;
    EXPECT_LE(a.worstMean, 0.015) << what;
    EXPECT_LE(a.overallMean, 0.0015) << what;
}

TEST(EncoderKernels, IntegerForwardDctMeetsIeee1180Limits) {
    const EncoderKernels k = makeKernels(cpuLevel());
    auto fdct = [&](const std::int16_t* in, std::int16_t* out) { k.fdctInt(in, out); };
    for (auto [low, high] : {std::pair{256, 255}, std::pair{5, 5}, std::pair{300, 300}}) {
        const Accuracy a = measure(fdct, referenceFdct, low, high, 4000, false);
        expectIeee1180(a, "forward");
    }
}

TEST(EncoderKernels, ReconstructionIdctMeetsIeee1180Limits) {
    const EncoderKernels k = makeKernels(cpuLevel());
    auto idct = [&](const std::int16_t* in, std::int16_t* out) {
        std::memcpy(out, in, 64 * sizeof(std::int16_t));
        k.idct(out);
    };
    for (auto [low, high] : {std::pair{256, 255}, std::pair{5, 5}, std::pair{300, 300}}) {
        const Accuracy a = measure(idct, referenceIdct, low, high, 4000, true);
        expectIeee1180(a, "inverse");
    }
}

TEST(EncoderKernels, FloatingPointDctStaysWithinOneOfTheReference) {
    const EncoderKernels k = makeKernels(cpuLevel());
    auto fdct = [&](const std::int16_t* in, std::int16_t* out) { k.fdctFloat(in, out); };
    const Accuracy a = measure(fdct, referenceFdct, 256, 255, 2000, false);
    EXPECT_LE(a.peak, 1);
    EXPECT_LE(a.overallMse, 0.05);
}

TEST_P(EncoderKernelLevels, TransformsAndQuantisersEqualThePlainOnesAndStayInTheirBlock) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    const auto intra = mpeg::kDefaultIntraMatrix;
    const auto nonIntra = defaultNonIntraMatrix();
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        // Guards around each output block catch a write outside it.
        struct Guarded {
            std::int16_t before[8];
            alignas(32) std::int16_t block[64];
            std::int16_t after[8];
        };
        std::int16_t in[64];
        const int extreme = round % 3;
        for (auto& v : in)
            v = static_cast<std::int16_t>(extreme == 1   ? ((rng() & 1) ? 255 : -256)
                                          : extreme == 2 ? 255
                                                         : static_cast<int>(rng() % 511) - 256);
        auto run = [&](auto&& fn) {
            Guarded g;
            std::fill(std::begin(g.before), std::end(g.before), std::int16_t(0x5A5A));
            std::fill(std::begin(g.after), std::end(g.after), std::int16_t(0x5A5A));
            std::fill(std::begin(g.block), std::end(g.block), std::int16_t(0));
            fn(g.block);
            for (int i = 0; i < 8; ++i) {
                EXPECT_EQ(g.before[i], 0x5A5A);
                EXPECT_EQ(g.after[i], 0x5A5A);
            }
            return std::vector<std::int16_t>(g.block, g.block + 64);
        };
        auto fdctI = [&](const EncoderKernels& k) {
            return run([&](std::int16_t* o) { k.fdctInt(in, o); });
        };
        auto fdctF = [&](const EncoderKernels& k) {
            return run([&](std::int16_t* o) { k.fdctFloat(in, o); });
        };
        EXPECT_EQ(fdctI(simd), fdctI(plain));
        EXPECT_EQ(fdctF(simd), fdctF(plain));
        const std::vector<std::int16_t> coef = fdctI(plain);
        auto idct = [&](const EncoderKernels& k) {
            return run([&](std::int16_t* o) {
                std::copy(coef.begin(), coef.end(), o);
                k.idct(o);
            });
        };
        EXPECT_EQ(idct(simd), idct(plain));
        for (int q : {2, 8, 31 * 2, 62}) {
            for (int clip : {255, 2047}) {
                auto qi = [&](const EncoderKernels& k) {
                    return run([&](std::int16_t* o) {
                        k.quantIntraAc(coef.data(), o, intra.data(), q, clip);
                    });
                };
                auto qn = [&](const EncoderKernels& k) {
                    return run([&](std::int16_t* o) {
                        k.quantNonIntra(coef.data(), o, nonIntra.data(), q, clip);
                    });
                };
                EXPECT_EQ(qi(simd), qi(plain));
                EXPECT_EQ(qn(simd), qn(plain));
            }
        }
    }
}

// The quantiser formulas on hand-picked values.
// The encoder transforms a macroblock's six blocks in one call; the vector
// versions pair them up, so odd counts and blocks that differ in each half
// (one at the extremes, one random) must each come out as alone.
TEST_P(EncoderKernelLevels, TransformOfSeveralBlocksEqualsEachBlockAlone) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    std::mt19937 rng(23);
    constexpr int kMax = 7;
    for (int round = 0; round < 60; ++round) {
        std::vector<std::int16_t> in(64 * kMax);
        for (std::size_t i = 0; i < in.size(); ++i) {
            const bool extreme = (i / 64 + round) % 2 == 0 && round % 3 == 0;
            in[i] = static_cast<std::int16_t>(extreme ? ((rng() & 1) ? 255 : -256)
                                                      : static_cast<int>(rng() % 511) - 256);
        }
        for (int n = 1; n <= kMax; ++n) {
            // One block more than asked for, to see that it stays untouched.
            std::vector<std::int16_t> got(64 * (n + 1), 0x5A5A), want(64 * n);
            simd.fdctIntBlocks(in.data(), got.data(), n);
            for (int b = 0; b < n; ++b) plain.fdctInt(in.data() + 64 * b, want.data() + 64 * b);
            EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << n << " blocks";
            EXPECT_TRUE(std::all_of(got.begin() + 64 * n, got.end(),
                                    [](std::int16_t v) { return v == 0x5A5A; }))
                << n << " blocks";
        }
    }
}

TEST(EncoderKernels, QuantisersFollowTheirFormulas) {
    const EncoderKernels k = plainKernels();
    std::int16_t in[64] = {}, out[64];
    std::uint8_t w[64];
    std::fill(std::begin(w), std::end(w), std::uint8_t(16));
    w[1] = 19;
    in[1] = 100;   // intra: ((3200 + 9) / 19 + (3*8+2)/4) / 16 = (168 + 6) / 16 = 10
    in[2] = -100;  // ((3200 + 8) / 16 + 6) / 16 = 206 / 16 = 12, negative
    in[3] = 4000;  // clipped to the largest level
    EXPECT_NE(k.quantIntraAc(in, out, w, 8, 255), 0);
    EXPECT_EQ(out[1], 10);
    EXPECT_EQ(out[2], -12);
    EXPECT_EQ(out[3], 255);
    // Non-intra: (32|x| + w/2) / (2 w q); 100 at q 8: 3208 / 256 = 12.
    std::int16_t small[64] = {};
    small[0] = 100;
    small[5] = -7;  // 232 / 256 = 0
    EXPECT_NE(k.quantNonIntra(small, out, w, 8, 2047), 0);
    EXPECT_EQ(out[0], 12);
    EXPECT_EQ(out[5], 0);
    std::int16_t tiny[64] = {};
    tiny[9] = 7;
    EXPECT_EQ(k.quantNonIntra(tiny, out, w, 8, 2047), 0);

    // Every coefficient value against the integer formulas, for the matrix
    // entries and quantiser scales at their extremes.
    for (int weight : {8, 16, 19, 33, 83, 255}) {
        for (int q : {2, 4, 14, 30, 62}) {
            std::uint8_t wm[64];
            std::fill(std::begin(wm), std::end(wm), std::uint8_t(weight));
            for (int x0 = -2048; x0 < 2048; x0 += 64) {
                std::int16_t block[64], qi[64], qn[64];
                for (int i = 0; i < 64; ++i) block[i] = static_cast<std::int16_t>(x0 + i);
                k.quantIntraAc(block, qi, wm, q, 2047);
                k.quantNonIntra(block, qn, wm, q, 2047);
                for (int i = 0; i < 64; ++i) {
                    const int ax = std::abs(block[i]), sign = block[i] < 0 ? -1 : 1;
                    const int wantN = std::min(2047, (32 * ax + weight / 2) / (2 * weight * q));
                    const int wantI = std::min(
                        2047, (((32 * ax + weight / 2) / weight) + (3 * q + 2) / 4) / (2 * q));
                    EXPECT_EQ(qn[i], sign * wantN) << block[i] << " " << weight << " " << q;
                    if (i > 0) {
                        EXPECT_EQ(qi[i], sign * wantI) << block[i] << " " << weight << " " << q;
                    }
                }
            }
        }
    }
}

// Every int16 coefficient value through both quantisers, for matrices that
// change from call to call (the SIMD ones keep terms of the last matrix).
TEST_P(EncoderKernelLevels, SimdQuantisersEqualThePlainOnesForEveryValueAndMatrixChange) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    std::array<std::array<std::uint8_t, 64>, 4> mats{};
    mats[0] = mpeg::kDefaultIntraMatrix;
    mats[1] = defaultNonIntraMatrix();
    std::mt19937 rng(5);
    for (auto& v : mats[2]) v = static_cast<std::uint8_t>(1 + rng() % 255);
    for (int i = 0; i < 64; ++i) mats[3][i] = static_cast<std::uint8_t>(i % 2 ? 255 : 1);
    int call = 0;
    for (int q : {1, 2, 3, 10, 31, 62}) {
        for (int x0 = -32768; x0 < 32768; x0 += 64, ++call) {
            const std::uint8_t* w = mats[static_cast<std::size_t>(call % 4)].data();
            const int clip = call % 2 ? 255 : 2047;
            std::int16_t in[64], a[64], b[64];
            for (int i = 0; i < 64; ++i) in[(i * 7) % 64] = static_cast<std::int16_t>(x0 + i);
            std::fill(std::begin(a), std::end(a), std::int16_t(77));
            std::fill(std::begin(b), std::end(b), std::int16_t(77));
            const int na = plain.quantNonIntra(in, a, w, q, clip);
            const int nb = simd.quantNonIntra(in, b, w, q, clip);
            ASSERT_EQ(na != 0, nb != 0) << x0 << " " << q;
            ASSERT_TRUE(std::equal(a, a + 64, b)) << "non-intra " << x0 << " " << q;
            a[0] = b[0] = 77;
            const int ia = plain.quantIntraAc(in, a, w, q, clip);
            const int ib = simd.quantIntraAc(in, b, w, q, clip);
            ASSERT_EQ(ia != 0, ib != 0) << x0 << " " << q;
            ASSERT_TRUE(std::equal(a, a + 64, b)) << "intra " << x0 << " " << q;
            ASSERT_EQ(b[0], 77);  // the DC is not the intra kernel's
        }
    }
    // Sparse blocks: only an intra DC, or a single small AC level.
    std::int16_t in[64] = {}, out[64];
    in[0] = 2000;
    EXPECT_EQ(simd.quantIntraAc(in, out, mats[0].data(), 8, 2047), 0);
    EXPECT_NE(simd.quantNonIntra(in, out, mats[1].data(), 8, 2047), 0);
    in[0] = 0;
    in[63] = -300;
    EXPECT_NE(simd.quantNonIntra(in, out, mats[1].data(), 2, 2047), 0);
    EXPECT_LT(out[63], 0);
}

// Non-intra blocks whose levels are all zero but for one that is just not:
// every coefficient at the largest magnitude that still gives level 0, then
// one of them a step above it (or at -32768), for the quantiser scales of
// both scale types. A block that is nearly zero must not be taken for zero.
TEST_P(EncoderKernelLevels, NonIntraQuantiserTellsBlocksAtTheEdgeOfZero) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    std::array<std::array<std::uint8_t, 64>, 3> mats{};
    mats[0] = defaultNonIntraMatrix();
    std::mt19937 rng(31);
    for (auto& v : mats[1]) v = static_cast<std::uint8_t>(1 + rng() % 255);
    for (int i = 0; i < 64; ++i) mats[2][i] = static_cast<std::uint8_t>(i % 3 ? 255 : 1);
    for (const auto& w : mats) {
        for (int q = 1; q <= 112; ++q) {
            // Largest |x| with floor((32 |x| + w / 2) / (2 w q)) == 0.
            std::int16_t edge[64];
            for (int i = 0; i < 64; ++i)
                edge[i] = static_cast<std::int16_t>((2 * w[i] * q - w[i] / 2 - 1) / 32);
            std::int16_t in[64], a[64], b[64];
            for (int i = 0; i < 64; ++i)
                in[i] = static_cast<std::int16_t>(i % 2 ? edge[i] : -edge[i]);
            ASSERT_EQ(plain.quantNonIntra(in, a, w.data(), q, 2047), 0) << q;
            std::fill(std::begin(b), std::end(b), std::int16_t(77));
            ASSERT_EQ(simd.quantNonIntra(in, b, w.data(), q, 2047), 0) << q;
            ASSERT_TRUE(std::equal(a, a + 64, b)) << q;
            const int i = static_cast<int>(rng() % 64);
            for (int x : {edge[i] + 1, -edge[i] - 1, -32768, 32767}) {
                in[i] = static_cast<std::int16_t>(x);
                const int na = plain.quantNonIntra(in, a, w.data(), q, 2047);
                const int nb = simd.quantNonIntra(in, b, w.data(), q, 2047);
                ASSERT_NE(na, 0) << q << " " << x;
                ASSERT_NE(nb, 0) << q << " " << x;
                ASSERT_EQ(a[i], b[i]) << q << " " << x;
            }
        }
    }
}

// Inverse quantisation, MPEG-1 and MPEG-2, intra and non-intra, on sparse,
// dense and extreme levels (zero results, MPEG-1's odd values and MPEG-2's
// mismatch control in coefficient 63 all come up).
TEST_P(EncoderKernelLevels, SimdDequantiserEqualsThePlainOne) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    const auto intra = mpeg::kDefaultIntraMatrix;
    const auto nonIntra = defaultNonIntraMatrix();
    std::mt19937 rng(17);
    for (int round = 0; round < 4000; ++round) {
        std::int16_t lv[64] = {};
        const int kind = round % 5;
        const int count = kind == 0 ? 1 : kind == 1 ? 3 : 64;
        for (int n = 0; n < count; ++n) {
            int v = static_cast<int>(rng() % 9) - 4;
            if (kind == 3) v = static_cast<int>(rng() % 4095) - 2047;
            if (kind == 4) v = (rng() & 1) ? 2047 : -2047;
            if (round % 101 == 0) v = (rng() & 1) ? 32767 : -32768;
            lv[rng() % 64] = static_cast<std::int16_t>(v);
        }
        const bool isIntra = (round / 5) % 2 != 0, mpeg2 = (round / 10) % 2 != 0;
        const int qs = 2 * (1 + static_cast<int>(rng() % 31));
        const int dcScale = 8 >> (round % 4);
        const std::uint8_t* w = isIntra ? intra.data() : nonIntra.data();
        std::int16_t a[64], b[64];
        plain.dequant(lv, a, w, qs, isIntra, mpeg2, dcScale);
        simd.dequant(lv, b, w, qs, isIntra, mpeg2, dcScale);
        ASSERT_TRUE(std::equal(a, a + 64, b)) << round;
    }
    // MPEG-1: a level of 1 at the smallest weight and scale gives 1, not 0.
    std::uint8_t ones[64];
    std::fill(std::begin(ones), std::end(ones), std::uint8_t(1));
    std::int16_t lv[64] = {}, out[64];
    lv[5] = 1;
    simd.dequant(lv, out, ones, 2, true, false, 8);
    EXPECT_EQ(out[5], 1);
    EXPECT_EQ(out[6], 0);
}

TEST_P(EncoderKernelLevels, SimdIdctEqualsThePlainOneAtTheEdges) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    std::mt19937 rng(3);
    std::int16_t last[64] = {};  // the last round's block, before its transform
    for (int round = 0; round < 2000; ++round) {
        std::int16_t a[64] = {}, b[64];
        const int kind = round % 4;
        const int count = kind == 0 ? 1 : kind == 1 ? 4 : 64;
        for (int n = 0; n < count; ++n) {
            const int i = static_cast<int>(rng() % 64);
            int v = static_cast<int>(rng() % 4096) - 2048;
            if (kind == 3) v = (rng() & 1) ? 2047 : -2048;
            if (round % 97 == 0) v = (rng() & 1) ? 32767 : -32768;
            a[i] = static_cast<std::int16_t>(v);
        }
        std::copy(a, a + 64, b);
        // The pair form, this block beside the last round's, each half of
        // the registers taking either.
        std::int16_t pairA[64], pairB[64], lastOut[64];
        std::copy(a, a + 64, pairA);
        std::copy(last, last + 64, pairB);
        std::copy(last, last + 64, lastOut);
        std::copy(a, a + 64, last);
        plain.idct(a);
        simd.idct(b);
        ASSERT_TRUE(std::equal(a, a + 64, b)) << round;
        plain.idct(lastOut);
        if (round % 2) {
            std::swap(pairA, pairB);
            std::swap(a, lastOut);
        }
        simd.idct2(pairA, pairB);
        ASSERT_TRUE(std::equal(pairA, pairA + 64, a)) << round;
        ASSERT_TRUE(std::equal(pairB, pairB + 64, lastOut)) << round;
    }
}

TEST_P(EncoderKernelLevels, SimdPixelKernelsEqualThePlainOnes) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    std::mt19937 rng(9);
    for (int round = 0; round < 200; ++round) {
        const Area a = randomArea(rng, round % 4), b = randomArea(rng, (round / 4) % 4);
        // Half-pel rows of every width up to the area's, so each tail length
        // after the 16-wide steps is met.
        const int width = 1 + round % Area::kStride;
        std::array<std::uint8_t, 3 * Area::kStride> pa{}, pb{};
        plain.halfPelRow(a.at(0, 3), a.at(0, 4), width, pa.data(), pa.data() + Area::kStride,
                         pa.data() + 2 * Area::kStride);
        simd.halfPelRow(a.at(0, 3), a.at(0, 4), width, pb.data(), pb.data() + Area::kStride,
                        pb.data() + 2 * Area::kStride);
        EXPECT_EQ(pa, pb) << width;

        // Block sum rows: the column step and the eight-wide sums, for
        // every width up to the area's (the tails after eight or sixteen).
        if (width >= 8) {
            std::array<std::uint16_t, Area::kStride> colA{}, colB{}, outA{}, outB{};
            for (int x = 0; x < width; ++x)
                colA[x] = colB[x] = static_cast<std::uint16_t>(rng() % (15 * 255 + 1));
            plain.blockSumsRow(colA.data(), a.at(0, 5), a.at(0, 6), width, outA.data());
            simd.blockSumsRow(colB.data(), a.at(0, 5), a.at(0, 6), width, outB.data());
            EXPECT_EQ(colA, colB) << width;
            EXPECT_EQ(outA, outB) << width;
            plain.blockSumsRow(colA.data(), nullptr, nullptr, width, outA.data());
            simd.blockSumsRow(colB.data(), nullptr, nullptr, width, outB.data());
            EXPECT_EQ(outA, outB) << width;
            int want = 0;
            for (int x = 0; x < 8; ++x) want += colA[x];
            EXPECT_EQ(outA[0], want & 0xFFFF);
        }

        std::array<std::uint8_t, 384> avgA{}, avgB{};
        plain.average(a.px.data(), b.px.data(), avgA.data(), 384);
        simd.average(a.px.data(), b.px.data(), avgB.data(), 384);
        EXPECT_EQ(avgA, avgB);
        EXPECT_EQ(avgA[5], (a.px[5] + b.px[5] + 1) >> 1);

        for (const std::uint8_t* pred : {static_cast<const std::uint8_t*>(nullptr), b.at(3, 5)}) {
            std::int16_t ia[64], ib[64];
            const int predStride = round % 2 ? 8 : 16;  // a chroma or a luma prediction
            const int anyA = plain.blockIn(a.at(8, 8), Area::kStride, pred, predStride, ia);
            const int anyB = simd.blockIn(a.at(8, 8), Area::kStride, pred, predStride, ib);
            EXPECT_TRUE(std::equal(ia, ia + 64, ib));
            EXPECT_EQ(anyA != 0, std::any_of(ia, ia + 64, [](std::int16_t v) { return v != 0; }));
            EXPECT_EQ(anyA != 0, anyB != 0);
            // A prediction equal to the block but for one sample: the
            // residual is zero everywhere else.
            std::uint8_t same[8 * 16];
            for (int j = 0; j < 8; ++j) std::memcpy(same + 16 * j, a.at(8, 8 + j), 8);
            EXPECT_EQ(simd.blockIn(a.at(8, 8), Area::kStride, same, 16, ib), 0);
            const int spot = round % 64;
            same[16 * (spot / 8) + spot % 8] ^= 1;
            EXPECT_NE(simd.blockIn(a.at(8, 8), Area::kStride, same, 16, ib), 0);
            // Residuals over the whole int16 range, and the usual one.
            std::int16_t res[64];
            for (auto& v : res)
                v = static_cast<std::int16_t>(round % 3 == 0
                                                  ? static_cast<int>(rng() % 65536) - 32768
                                                  : static_cast<int>(rng() % 512) - 256);
            Area oa = a, ob = a;
            plain.blockOut(res, pred, 16, oa.px.data() + 8 * Area::kStride + 8, Area::kStride);
            simd.blockOut(res, pred, 16, ob.px.data() + 8 * Area::kStride + 8, Area::kStride);
            EXPECT_EQ(oa.px, ob.px);  // the same samples, and nothing outside the block
        }

        for (int hv = 0; hv < 4; ++hv) {
            std::array<std::uint8_t, 128> oa{}, ob{};  // 8x8 at stride 16
            plain.predict8(b.at(9, 7), Area::kStride, hv & 1, hv >> 1, oa.data(), 16);
            simd.predict8(b.at(9, 7), Area::kStride, hv & 1, hv >> 1, ob.data(), 16);
            EXPECT_EQ(oa, ob) << hv;
        }

        std::int16_t blk[64] = {};
        for (int n = 0; n < round % 70; ++n)
            blk[rng() % 64] = static_cast<std::int16_t>(static_cast<int>(rng() % 65536) - 32768);
        EXPECT_EQ(simd.nonZeroMask(blk), plain.nonZeroMask(blk));

        // Dead zone edges on both sides of each magnitude, the extremes
        // of the coefficients included.
        std::int16_t least[64], la[64], lb[64];
        for (int i = 0; i < 64; ++i) {
            least[i] = static_cast<std::int16_t>(rng() % 1400);
            la[i] = lb[i] =
                rng() % 3 ? 0 : static_cast<std::int16_t>(static_cast<int>(rng() % 9) - 4);
            if (round % 4 == 0)
                blk[i] = static_cast<std::int16_t>(rng() % 2 ? least[i] : -least[i] + 1);
        }
        const bool ra = plain.roundDeadZone(blk, la, least) != 0;
        const bool rb = simd.roundDeadZone(blk, lb, least) != 0;
        EXPECT_EQ(ra, rb);
        EXPECT_TRUE(std::equal(la, la + 64, lb));
    }
    std::int16_t blk[64] = {};
    blk[0] = -32768;
    blk[63] = 1;
    EXPECT_EQ(simd.nonZeroMask(blk), (std::uint64_t{1} << 63) | 1u);
}

// The bit writer against a one-bit-at-a-time model, over random field
// lengths 0..32, alignments, start codes and bytes taken mid-stream (the
// taker clearing the vector or not).
TEST(EncoderKernels, BitWriterWritesTheBitsOfAOneBitModel) {
    std::mt19937 rng(21);
    mpeg::BitWriter bw;
    std::vector<int> model;  // bits
    std::vector<std::uint8_t> taken;
    std::size_t seen = 0;  // bytes of the vector already in `taken`
    auto modelPut = [&](std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) model.push_back(static_cast<int>((v >> i) & 1));
    };
    for (int step = 0; step < 20000; ++step) {
        const int what = static_cast<int>(rng() % 100);
        if (what < 80) {
            const int n = static_cast<int>(rng() % 33);
            const std::uint32_t v = static_cast<std::uint32_t>(rng());  // bits above n ignored
            bw.put(v, n);
            modelPut(v, n);
        } else if (what < 90) {
            // A burst as the coefficient writer makes them: values that fit.
            const int codes = 1 + static_cast<int>(rng() % 64);
            mpeg::BitWriter::Run run = bw.startRun(codes * 32);
            for (int c = 0; c < codes; ++c) {
                const int n = static_cast<int>(rng() % 33);
                const std::uint32_t v =
                    static_cast<std::uint32_t>(rng() & ((std::uint64_t{1} << n) - 1));
                run.put(v, n);
                modelPut(v, n);
            }
            bw.endRun(run);
        } else if (what < 94) {
            bw.align();
            while (model.size() % 8) model.push_back(0);
        } else if (what < 96) {
            const std::uint32_t code = static_cast<std::uint32_t>(rng());
            bw.startCode(code);
            while (model.size() % 8) model.push_back(0);
            modelPut(1, 24);
            modelPut(code & 0xFF, 8);
        } else {
            // Taken and cleared, or left in place to be taken with more.
            std::vector<std::uint8_t>& b = bw.bytes();
            taken.insert(taken.end(), b.begin() + static_cast<std::ptrdiff_t>(seen), b.end());
            seen = b.size();
            if (rng() % 2) {
                b.clear();
                seen = 0;
            }
        }
        ASSERT_EQ(bw.bits(), static_cast<long long>(model.size()));
        ASSERT_EQ(bw.aligned(), model.size() % 8 == 0);
    }
    // A vector left in place with a size off the word grid, then more than
    // its room at once: the words go on right after its last byte.
    std::vector<std::uint8_t>* left = &bw.bytes();
    if (left->size() % 4 == 0) {
        bw.put(0xA5, 8);
        modelPut(0xA5, 8);
        left = &bw.bytes();
    }
    taken.insert(taken.end(), left->begin() + static_cast<std::ptrdiff_t>(seen), left->end());
    seen = left->size();
    for (int i = 0; i < 6000; ++i) {
        const auto v = static_cast<std::uint32_t>(rng());
        bw.put(v, 32);
        modelPut(v, 32);
    }
    bw.align();
    while (model.size() % 8) model.push_back(0);
    std::vector<std::uint8_t>& b = bw.bytes();
    taken.insert(taken.end(), b.begin() + static_cast<std::ptrdiff_t>(seen), b.end());
    std::vector<std::uint8_t> want(model.size() / 8, 0);
    for (std::size_t i = 0; i < model.size(); ++i)
        want[i / 8] = static_cast<std::uint8_t>(want[i / 8] | model[i] << (7 - i % 8));
    EXPECT_EQ(taken, want);
}

// The half-pel search's eight neighbours summed in one pass: each the SAD
// against the half-pel planes the encoder makes (halfPelRow), in scan order.
TEST_P(EncoderKernelLevels, HalfPelSadsEqualTheSumsAgainstTheHalfPelPlanes) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    if (!simd.halfPelSads) GTEST_SKIP() << "no half-pel kernel at this level";
    constexpr int S = Area::kStride;
    std::mt19937 rng(5);
    for (int round = 0; round < 64; ++round) {
        // Extremes too: four 255s average to 255, the rounding at its top.
        const Area ref = randomArea(rng, round % 4), cur = randomArea(rng, (round / 4) % 4);
        std::array<std::vector<std::uint8_t>, 3> half;
        for (auto& h : half) h.assign(S * S, 0);
        for (int r = 0; r < S; ++r)
            plain.halfPelRow(ref.at(0, r), ref.at(0, r + 1 < S ? r + 1 : r), S,
                             half[0].data() + r * S, half[1].data() + r * S,
                             half[2].data() + r * S);
        alignas(32) std::uint8_t packed[256];
        const int bx = static_cast<int>(rng() % 32), by = static_cast<int>(rng() % 32);
        for (int y = 0; y < 16; ++y) std::memcpy(packed + 16 * y, cur.at(bx, by + y), 16);
        // Every integer position whose neighbours stay inside the area.
        for (int iy = 1; iy + 17 <= S; iy += 1 + round % 3)
            for (int ix = 1; ix + 17 <= S; ix += 1 + round % 5) {
                int sads[8];
                simd.halfPelSads(packed, ref.at(ix, iy), S, sads);
                int n = 0;
                for (int hy = 2 * iy - 1; hy <= 2 * iy + 1; ++hy)
                    for (int hx = 2 * ix - 1; hx <= 2 * ix + 1; ++hx) {
                        if (hx == 2 * ix && hy == 2 * iy) continue;
                        const int kind = (hx & 1) | (hy & 1) << 1;
                        const std::uint8_t* at = half[kind - 1].data() + (hy >> 1) * S + (hx >> 1);
                        ASSERT_EQ(sads[n], plain.sad16Packed(packed, at, S, 1 << 30))
                            << "neighbour " << n << " of " << ix << "," << iy;
                        ++n;
                    }
            }
    }
}

// The motion search passes over a candidate whose quarter bound exceeds the
// best SAD; that is only exact while the bound never exceeds the SAD itself.
TEST_P(EncoderKernelLevels, QuarterBoundsEqualThePlainOnesAndNeverExceedTheSad) {
    const EncoderKernels plain = plainKernels();
    const EncoderKernels simd = makeKernels(GetParam());
    constexpr int kPositions = Area::kStride - 8 + 1;
    std::mt19937 rng(11);
    for (int round = 0; round < 48; ++round) {
        const Area ref = randomArea(rng, round % 4), cur = randomArea(rng, (round / 4) % 4);
        // 8x8 sums at every position, with the slack the SIMD reads need.
        std::vector<std::uint16_t> sums(Area::kStride * kPositions + 32, 0);
        for (int y = 0; y < kPositions; ++y)
            for (int x = 0; x < kPositions; ++x)
                sums[y * Area::kStride + x] =
                    static_cast<std::uint16_t>(plain.sum8(ref.at(x, y), Area::kStride));
        alignas(32) std::uint8_t packed[256];
        const int bx = static_cast<int>(rng() % 33), by = static_cast<int>(rng() % 33);
        for (int y = 0; y < 16; ++y) std::memcpy(packed + 16 * y, cur.at(bx, by + y), 16);
        int quarters[4];
        for (int q = 0; q < 4; ++q)
            quarters[q] = plain.sum8(packed + (q >> 1) * 128 + (q & 1) * 8, 16);
        for (int y = 0; y + 16 <= Area::kStride; ++y) {
            const int n = 1 + (round + y) % (Area::kStride - 15);
            // Limits below, at and above the bounds, and none at all.
            const int limit = y % 4 == 0 ? -1 : y % 4 == 1 ? 65535 : static_cast<int>(rng() % 3000);
            std::array<std::uint16_t, 80> a{}, b{};
            const std::uint64_t ma = plain.quarterBounds(&sums[y * Area::kStride], Area::kStride,
                                                         quarters, n, limit, a.data());
            const std::uint64_t mb = simd.quarterBounds(&sums[y * Area::kStride], Area::kStride,
                                                        quarters, n, limit, b.data());
            ASSERT_EQ(ma, mb) << y;
            for (int x = 0; x < n; ++x) {
                ASSERT_EQ(a[x], b[x]) << x << "," << y;
                ASSERT_EQ((ma >> x) & 1, a[x] <= limit ? 1u : 0u) << x << "," << y;
                ASSERT_LE(a[x], plain.sad16Packed(packed, ref.at(x, y), Area::kStride, 1 << 30))
                    << x << "," << y;
            }
            ASSERT_EQ(n < 64 ? ma >> n : 0u, 0u) << "no bits past n";
        }
        if (round % 4 == 1 && (round / 4) % 4 == 2) {  // all 255 against all 0
            std::array<std::uint16_t, 16> a{};
            EXPECT_EQ(simd.quarterBounds(sums.data(), Area::kStride, quarters, 1, 65280, a.data()),
                      1u);
            EXPECT_EQ(a[0], 256 * 255);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Machine, EncoderKernelLevels, ::testing::ValuesIn(machineCpuLevels()),
                         [](const auto& info) { return std::string(cpuLevelName(info.param)); });

}  // namespace
}  // namespace zembra
