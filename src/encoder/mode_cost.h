#pragma once
// What coding a macroblock one way costs: the transformed blocks are
// quantised as the coder will (untrimmed: the trim moves the choice little
// and would cost as much again), their bits counted from the code tables
// and their error measured on the transform's side (the transform keeps
// energy, so it is the picture's error). The mode with the
// least error + lambda x bits is the one worth its bits.

#include <cstdint>

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
};

// Six blocks of a macroblock predicted from `coef` (source minus prediction,
// transformed): the bits of their levels and ends of block (not the coded
// block pattern) and the error after quantisation.
BlocksCost nonIntraBlocksCost(const ModeCostParams& mp, const std::int16_t (*coef)[64]);

// Six intra blocks (the source transformed): DC and AC bits and the error.
// The DC differences are taken within the macroblock, the first against
// the middle grey.
BlocksCost intraBlocksCost(const ModeCostParams& mp, const std::int16_t (*coef)[64]);

}  // namespace zembra
