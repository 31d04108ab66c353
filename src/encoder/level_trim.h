#pragma once
// Rate-distortion trimming of a quantised block: the quantiser rounds each
// coefficient on its own, but a small level late in the scan costs a whole
// run/level code for little picture. Each non-zero level, from the last in
// scan order back, is lowered by one where the error it adds is worth less
// than the bits it saves at `lambda` (squared error per bit; the transform
// keeps energy, so coefficient error is picture error).

#include <cstdint>

#include "encoder/vlc_tables.h"

namespace zembra {

struct TrimQuant {
    const std::uint8_t* matrix = nullptr;  // weights, natural order
    int quantiserScale = 2;
    bool intra = false;  // intra: the DC term (coded apart) is left alone
    bool mpeg2 = true;   // the escape's length
    // The levels' non-zero mask in natural order, bit i for level[i]
    // (EncoderKernels::nonZeroMask), when the caller has it: the trim then
    // visits the non-zero levels alone instead of all 64.
    const std::uint64_t* nonZero = nullptr;
};

// Bits of one run/level pair with its sign (escape included); `first`: the
// first coefficient of a non-intra block, whose level 1 has a short code.
// (Inline: the mode choice and the trim count it for every level they weigh.)
inline int runLevelBits(int run, int level, bool first, bool mpeg2) {
    if (first && run == 0 && level == 1) return 2;
    vlc::Code c;
    if (vlc::dctCoefficient(run, level, c)) return c.length + 1;
    if (mpeg2) return 24;
    return level < 128 ? 20 : 28;
}

// Lowers levels of `level` (natural order, quantised from `coef`) where it
// pays. Returns whether a non-zero AC level (or any, for non-intra) is left.
bool trimLevels(const std::int16_t* coef, std::int16_t* level, const TrimQuant& tq, double lambda);

// MPEG-2 decoders toggle coefficient 63 of a block whose rebuilt values sum
// to an even number; decoders that leave that out rebuild the block a little
// differently, and every prediction from it carries the difference on. Of
// the moves of one level by one that make the sum odd, the one that costs
// least (error plus `lambda` times bits) is made, if it costs no more than
// `maxCost`: at some cost the toggle is the better picture. `level` holds
// the whole block, the intra DC (rebuilt as level x `dcScale`) included,
// which is never moved. Returns whether a non-zero AC level (or any, for
// non-intra) is left.
bool makeSumOdd(const std::int16_t* coef, std::int16_t* level, const TrimQuant& tq, int dcScale,
                double lambda, double maxCost);

}  // namespace zembra
