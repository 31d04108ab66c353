#include "encoder/mode_cost.h"

#include <algorithm>
#include <cstdlib>

#include "encoder/level_trim.h"
#include "encoder/vlc_tables.h"
#include "mpeg/scan_tables.h"

namespace zembra {

double bitPrice(int q) {
    // Lower and the trim gives up little and the modes chase error; higher
    // and both give away detail worth its bits.
    constexpr double kWeight = 0.15;
    return kWeight * q * q;
}

namespace {

// The sum of squares of a block's coefficients from `from` (0 or 1) on.
// Summed over the whole block with a fixed count, which compilers turn
// into vector code, and the DC taken off after.
int energy(const std::int16_t* coef, int from) {
    int e = 0;
    for (int i = 0; i < 64; ++i) e += coef[i] * coef[i];
    return from ? e - coef[0] * coef[0] : e;
}

// The bits of a block's levels from scan position `start` on, its end of
// block included, and their squared error as the decoder rebuilds them
// (non-intra (2l+1) w q / 32, intra l w q / 16) beside the coefficients
// the levels leave at zero. `nonIntra`: its first level 1 has a short code.
// The error is summed in 32nds of a coefficient step, in integers: every
// term is a whole number of 1024ths far below 2^53, so the sum is the one
// the same terms in double would make, in any order, and the loop carries
// no floating-point addition from level to level.
void levelCost(const EncoderKernels& k, const std::int16_t* coef, const std::int16_t* level,
               const std::uint8_t* w, int q, bool intra, bool mpeg2, BlocksCost& c) {
    const int start = intra ? 1 : 0;
    const std::uint8_t* scan = mpeg::kZigZagPosition.data();
    std::uint64_t m = 0;
    for (std::uint64_t nat = k.nonZeroMask(level); nat; nat &= nat - 1)
        m |= std::uint64_t{1} << scan[__builtin_ctzll(nat)];
    if (intra) m &= ~std::uint64_t{1};
    // 1024 x (the rebuilt error^2 - the coefficient^2) over the levels.
    std::int64_t change = 0;
    int bits = 2;  // end of block
    int last = start - 1;
    bool first = !intra;
    const int half = intra ? 0 : 1;
    for (; m; m &= m - 1) {
        const int n = __builtin_ctzll(m);
        const int at = mpeg::kZigZag[n];
        const int l = std::abs(level[at]);
        bits += runLevelBits(n - last - 1, l, first, mpeg2);
        first = false;
        last = n;
        const std::int64_t x32 = 32 * std::abs(coef[at]);
        const std::int64_t d = x32 - static_cast<std::int64_t>(2 * l + half) * (w[at] * q);
        change += d * d - x32 * x32;
    }
    c.bits += bits;
    c.distortion += energy(coef, start) + static_cast<double>(change) / 1024.0;
}

int dcSizeBits(int diff, bool luma) {
    int a = std::abs(diff), size = 0;
    while (a) {
        ++size;
        a >>= 1;
    }
    return (luma ? vlc::kDcSizeLuma[size] : vlc::kDcSizeChroma[size]).length + size;
}

// Whether the blocks counted so far in `c` reach `giveUp` (see
// nonIntraBlocksCost): they are marked so.
bool reaches(BlocksCost& c, double price, int baseBits, double giveUp) {
    c.gaveUp = c.distortion + price * (c.bits + baseBits) >= giveUp;
    return c.gaveUp;
}

}  // namespace

BlocksCost nonIntraBlocksCost(const ModeCostParams& mp, const std::int16_t (*coef)[64],
                              double giveUp, int baseBits) {
    const EncoderKernels& k = *mp.kernels;
    const int q = mp.quantiserScale;
    const int clip = mp.mpeg2 ? 2047 : 255;
    const double price = bitPrice(q);
    BlocksCost c;
    alignas(32) std::int16_t level[64];
    for (int b = 0; b < 6; ++b) {
        bool any = k.quantNonIntra(coef[b], level, mp.nonIntraMatrix, q, clip);
        if (!any) {
            c.distortion += energy(coef[b], 0);
        } else {
            c.cbp |= 1 << (5 - b);
            levelCost(k, coef[b], level, mp.nonIntraMatrix, q, false, mp.mpeg2, c);
        }
        if (reaches(c, price, baseBits, giveUp)) break;
    }
    return c;
}

BlocksCost intraBlocksCost(const ModeCostParams& mp, const std::int16_t (*coef)[64], double giveUp,
                           int baseBits) {
    const EncoderKernels& k = *mp.kernels;
    const int q = mp.quantiserScale;
    const int clip = mp.mpeg2 ? 2047 : 255;
    const int dd = 8 >> mp.intraDcPrecision;
    const int maxDc = (1 << (8 + mp.intraDcPrecision)) - 1;
    const int grey = 1 << (7 + mp.intraDcPrecision);
    int prevLuma = grey;
    const double price = bitPrice(q);
    BlocksCost c;
    c.cbp = 63;
    alignas(32) std::int16_t level[64];
    for (int b = 0; b < 6; ++b) {
        const int x0 = coef[b][0];
        const int dc = std::clamp(x0 >= 0 ? (x0 + dd / 2) / dd : -((dd / 2 - x0) / dd), 0, maxDc);
        const bool luma = b < 4;
        c.bits += dcSizeBits(dc - (luma ? prevLuma : grey), luma);
        if (luma) prevLuma = dc;
        c.distortion += (x0 - dc * dd) * (x0 - dc * dd);
        k.quantIntraAc(coef[b], level, mp.intraMatrix, q, clip);
        level[0] = 0;
        levelCost(k, coef[b], level, mp.intraMatrix, q, true, mp.mpeg2, c);
        if (reaches(c, price, baseBits, giveUp)) break;
    }
    return c;
}

}  // namespace zembra
