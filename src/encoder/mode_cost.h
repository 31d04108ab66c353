#pragma once
// What coding a macroblock one way costs: the transformed blocks are
// quantised as the coder will (untrimmed: the trim moves the choice little
// and would cost as much again), their bits counted from the code tables
// and their error measured on the transform's side (the transform keeps
// energy, so it is the picture's error). The mode with the
// least error + lambda x bits is the one worth its bits.

#include <cstdint>
#include <limits>

#include "encoder/kernels.h"

namespace zembra {

// The squared error a bit is worth at quantiser scale `q`: the price both
// the choice of a mode and the trimming of levels weigh bits at.
double bitPrice(int q);

struct ModeCostParams {
    const EncoderKernels* kernels = nullptr;
    const std::uint8_t* intraMatrix = nullptr;     // natural order
    const std::uint8_t* nonIntraMatrix = nullptr;  // natural order
    int quantiserScale = 2;
    int intraDcPrecision = 0;
    bool mpeg2 = true;
};

struct BlocksCost {
    double distortion = 0;
    int bits = 0;
    int cbp = 0;  // the blocks left with a level (non-intra)
    // Counting stopped at `giveUp` (below): the figures are those of the
    // blocks counted, the whole costs at least that much.
    bool gaveUp = false;
};

// Six blocks of a macroblock predicted from `coef` (source minus prediction,
// transformed): the bits of their levels and ends of block (not the coded
// block pattern) and the error after quantisation. A mode weighed against
// a better one need not be counted to its end: once the blocks counted so
// far, with `baseBits` bits more, cost `giveUp` or more (error + bitPrice x
// bits, as the choice of a mode adds them) the count stops. Each block's
// error and bits only add to the cost, so the whole would cost as much.
BlocksCost nonIntraBlocksCost(const ModeCostParams& mp, const std::int16_t (*coef)[64],
                              double giveUp = std::numeric_limits<double>::infinity(),
                              int baseBits = 0);

// Six intra blocks (the source transformed): DC and AC bits and the error.
// The DC differences are taken within the macroblock, the first against
// the middle grey. `giveUp` and `baseBits` as above.
BlocksCost intraBlocksCost(const ModeCostParams& mp, const std::int16_t (*coef)[64],
                           double giveUp = std::numeric_limits<double>::infinity(),
                           int baseBits = 0);

}  // namespace zembra
