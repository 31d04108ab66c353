// What coding a macroblock one way costs: the bits as the code tables
// write them and the error as the decoder's reconstruction has it.

#include "encoder/mode_cost.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "encoder/encoder_params.h"
#include "mpeg/scan_tables.h"

namespace zembra {
namespace {

struct Fixture {
    EncoderKernels k = plainKernels();
    std::array<std::uint8_t, 64> nonIntra = defaultNonIntraMatrix();
    ModeCostParams params(int q, bool mpeg2) const {
        ModeCostParams mp;
        mp.kernels = &k;
        mp.intraMatrix = mpeg::kDefaultIntraMatrix.data();
        mp.nonIntraMatrix = nonIntra.data();
        mp.quantiserScale = q;
        mp.mpeg2 = mpeg2;
        return mp;
    }
};

// A residual the quantiser leaves at zero codes no block and costs its
// whole energy; a flat intra macroblock at mid grey costs its DC codes of
// size 0 (3 bits luma, 2 chroma) and an end of block each, and no error.
TEST(ModeCost, EmptyResidualAndFlatIntraBlocks) {
    Fixture fx;
    alignas(32) std::int16_t coef[6][64] = {};
    coef[0][5] = 3;
    coef[4][0] = -2;
    const BlocksCost none = nonIntraBlocksCost(fx.params(16, true), coef);
    EXPECT_EQ(none.cbp, 0);
    EXPECT_EQ(none.bits, 0);
    EXPECT_DOUBLE_EQ(none.distortion, 9 + 4);

    for (auto& b : coef) {
        std::memset(b, 0, sizeof b);
        b[0] = 128 * 8;  // mid grey, 8 x the mean
    }
    const BlocksCost flat = intraBlocksCost(fx.params(8, true), coef);
    EXPECT_EQ(flat.cbp, 63);
    EXPECT_EQ(flat.bits, 4 * (3 + 2) + 2 * (2 + 2));
    EXPECT_DOUBLE_EQ(flat.distortion, 0);
}

// The error counted on the transform's side is the one the decoder's
// reconstruction (dequantiser and inverse transform) leaves in the
// picture, within its rounding, for intra and non-intra blocks of MPEG-1
// and MPEG-2 at fine and coarse scales.
TEST(ModeCost, ErrorIsThePictureErrorOfTheReconstruction) {
    Fixture fx;
    for (bool mpeg2 : {false, true}) {
        for (int q : {4, 16, 40}) {
            for (bool intra : {false, true}) {
                alignas(32) std::int16_t pixels[6][64];
                alignas(32) std::int16_t coef[6][64];
                unsigned seed = 12345u + q;
                for (int b = 0; b < 6; ++b) {
                    for (int i = 0; i < 64; ++i) {
                        seed = seed * 1103515245u + 12345u;
                        const int noise = static_cast<int>(seed >> 16 & 63) - 32;
                        const int ramp = (i % 8) * 6 - (i / 8) * 4;
                        pixels[b][i] = static_cast<std::int16_t>(intra ? 128 + ramp + noise
                                                                       : ramp + noise / 2);
                    }
                    fx.k.fdctInt(pixels[b], coef[b]);
                }
                const ModeCostParams mp = fx.params(q, mpeg2);
                const BlocksCost cost =
                    intra ? intraBlocksCost(mp, coef) : nonIntraBlocksCost(mp, coef);

                // The same blocks through the coder's quantiser and the
                // decoder's reconstruction.
                double picture = 0;
                const std::uint8_t* w = intra ? mp.intraMatrix : mp.nonIntraMatrix;
                for (int b = 0; b < 6; ++b) {
                    alignas(32) std::int16_t level[64], rebuilt[64];
                    if (intra) {
                        fx.k.quantIntraAc(coef[b], level, w, q, mpeg2 ? 2047 : 255);
                        level[0] = static_cast<std::int16_t>((coef[b][0] + 4) / 8);
                    } else {
                        fx.k.quantNonIntra(coef[b], level, w, q, mpeg2 ? 2047 : 255);
                    }
                    fx.k.dequant(level, rebuilt, w, q, intra, mpeg2, 8);
                    fx.k.idct(rebuilt);
                    for (int i = 0; i < 64; ++i) {
                        const double e = pixels[b][i] - rebuilt[i];
                        picture += e * e;
                    }
                }
                SCOPED_TRACE(testing::Message()
                             << "mpeg2 " << mpeg2 << " q " << q << " intra " << intra);
                EXPECT_NEAR(cost.distortion, picture, 0.1 * picture + 6 * 64 / 6.0);
                EXPECT_GT(cost.bits, 0);
            }
        }
    }
}

// At the ends of the ranges - the transform's largest coefficients, the
// heaviest and a light weight, the coarsest and finest scales, levels
// clipped to MPEG-1's 255 - the error is still the exact sum of the
// squared differences between each coefficient and the value its level
// stands for (a product of these that overflowed would show here).
TEST(ModeCost, ErrorStaysExactAtTheRangesEnds) {
    Fixture fx;
    std::array<std::uint8_t, 64> heavy{};
    heavy.fill(255);
    heavy[1] = 8;
    alignas(32) std::int16_t coef[6][64];
    const std::int16_t ends[] = {-2048, 2047, -2047, 1999, 1, 0, -700};
    for (int b = 0; b < 6; ++b)
        for (int i = 0; i < 64; ++i) coef[b][i] = ends[(b * 64 + i * 5) % 7];
    // Intra DCs at whole steps of 8: rebuilt without error.
    for (int b = 0; b < 6; ++b) coef[b][0] = static_cast<std::int16_t>(8 * (20 + 30 * b));
    for (bool mpeg2 : {false, true}) {
        for (int q : {1, 112}) {
            for (bool intra : {false, true}) {
                ModeCostParams mp = fx.params(q, mpeg2);
                mp.intraMatrix = heavy.data();
                mp.nonIntraMatrix = heavy.data();
                const BlocksCost cost =
                    intra ? intraBlocksCost(mp, coef) : nonIntraBlocksCost(mp, coef);
                long double want = 0;
                for (int b = 0; b < 6; ++b) {
                    alignas(32) std::int16_t level[64];
                    if (intra)
                        fx.k.quantIntraAc(coef[b], level, heavy.data(), q, mpeg2 ? 2047 : 255);
                    else
                        fx.k.quantNonIntra(coef[b], level, heavy.data(), q, mpeg2 ? 2047 : 255);
                    for (int i = intra ? 1 : 0; i < 64; ++i) {
                        const long double l = std::abs(level[i]);
                        const long double r =
                            l == 0 ? 0 : (intra ? l : l + 0.5L) * heavy[i] * q / 16.0L;
                        const long double e = std::abs(static_cast<int>(coef[b][i])) - r;
                        want += e * e;
                    }
                }
                SCOPED_TRACE(testing::Message()
                             << "mpeg2 " << mpeg2 << " q " << q << " intra " << intra);
                EXPECT_EQ(cost.distortion, static_cast<double>(want));
            }
        }
    }
}

// A count told to give up at a cost stops only where the whole would cost
// at least that much, and one that runs to the end is the unbounded count:
// the choice of a mode stays the same whether it gives up or not. Random
// intra and residual blocks, bounds around their whole cost.
TEST(ModeCost, GivingUpStopsOnlyWhereTheWholeCostsAsMuch) {
    Fixture fx;
    unsigned seed = 99;
    const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    int gaveUp = 0, ran = 0;
    for (int round = 0; round < 300; ++round) {
        const bool intra = round % 2 == 1;
        const int q = 2 + static_cast<int>(next() % 30);
        alignas(32) std::int16_t pixels[64], coef[6][64];
        for (int b = 0; b < 6; ++b) {
            const int spread = 1 + static_cast<int>(next() % 60);
            for (int i = 0; i < 64; ++i) {
                const int noise = static_cast<int>(next() % (2 * spread + 1)) - spread;
                pixels[i] = static_cast<std::int16_t>(intra ? 128 + noise : noise);
            }
            fx.k.fdctInt(pixels, coef[b]);
        }
        const ModeCostParams mp = fx.params(q, round % 3 != 0);
        const int baseBits = static_cast<int>(next() % 12);
        const auto count = [&](double giveUp) {
            return intra ? intraBlocksCost(mp, coef, giveUp, baseBits)
                         : nonIntraBlocksCost(mp, coef, giveUp, baseBits);
        };
        const BlocksCost whole = count(std::numeric_limits<double>::infinity());
        ASSERT_FALSE(whole.gaveUp);
        const double wholeCost = whole.distortion + bitPrice(q) * (whole.bits + baseBits);
        const double giveUp = wholeCost * (0.2 + (next() % 100) / 60.0);
        const BlocksCost part = count(giveUp);
        SCOPED_TRACE(testing::Message() << "round " << round);
        if (part.gaveUp) {
            ++gaveUp;
            EXPECT_GE(wholeCost, giveUp);
            EXPECT_GE(part.distortion + bitPrice(q) * (part.bits + baseBits), giveUp);
        } else {
            ++ran;
            EXPECT_EQ(part.distortion, whole.distortion);
            EXPECT_EQ(part.bits, whole.bits);
            EXPECT_EQ(part.cbp, whole.cbp);
            EXPECT_LT(wholeCost, giveUp);
        }
    }
    EXPECT_GT(gaveUp, 50);
    EXPECT_GT(ran, 50);
}

}  // namespace
}  // namespace zembra
