#pragma once
// The quantiser scales a picture may use: the linear ones (2, 4 .. 62, coded
// as half their value) or, for MPEG-2 with q_scale_type 1, the non-linear
// table's (1 .. 112), finer at the low end where high bit rates live.

#include <cstdint>

#include "encoder/kernels.h"

namespace zembra {

// The quantiser_scale_code that carries `scale` (a scale of the kind).
int quantiserScaleCode(int scale, bool nonLinear);

// The usable scale nearest to `scale`. The non-linear table's 1 is left
// out: at rates that reach it, pictures coded that fine take bits from the
// next ones, and the sequence as a whole comes out worse.
int nearestQuantiserScale(double scale, bool nonLinear);

// The non-linear scale nearest to `scale` that is not a multiple of 4 below
// 28: with MPEG's flat non-intra matrix, such a scale rebuilds every level
// even, so no block's sum can be made odd (MPEG-2's mismatch control then
// always toggles). From 28 up every scale is such; the nearest is taken.
int nearestOddSumScale(double scale);

// The finest scales at which Best rounds non-intra levels out of the dead
// zone (see roundOutOfDeadZone).
constexpr int kNearestRoundingMaxScale = 8;

// Non-intra quantising truncates, and a level l rebuilds to (l + 1/2)
// steps, so from level 1 up each value takes its nearest rebuilt value; but
// everything below one step becomes 0, though from 3/4 of a step on level 1
// is nearer. Raises such zero levels of `level` (natural order, quantised
// from `coef` with the weights `matrix` at scale `q`) to 1 with the
// coefficient's sign, for a trim that weighs each level's bits to take
// back where they do not pay. Returns whether any level was raised.
bool roundOutOfDeadZone(const EncoderKernels& k, const std::int16_t* coef, std::int16_t* level,
                        const std::uint8_t* matrix, int q);

}  // namespace zembra
