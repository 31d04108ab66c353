#pragma once
// Row kernels of the output scaler. Positions are 16.16 fixed point; the
// kernels weight neighbours with 8-bit fractions (the top 8 bits of the
// 16-bit fraction), so every variant of a kernel gives the same bytes.
//
// A row is made in two passes: a vertical pass blends the 2 (bilinear) or 4
// (bicubic) source rows into 16-bit sums weighted to 256, then a horizontal
// pass weights those columns to 256 again and rounds the 65536-scaled result.

#include <cstdint>

namespace zembra {

struct ScaleKernels {
    // tmp[i] = a[i] * (256 - f) + b[i] * f
    void (*blend2)(const uint8_t* a, const uint8_t* b, int f, uint16_t* tmp, int n);
    // tmp[i] = sum of rows[k][i] * w[k], k = 0..3, weights >= 0 summing to 256
    void (*blend4)(const uint8_t* const rows[4], const int w[4], uint16_t* tmp, int n);
};

enum class ScaleLevel { Plain = 0, Sse2 = 1 };

ScaleKernels makeScaleKernels(ScaleLevel level);
const ScaleKernels& scaleKernels();  // chosen once; ZEMBRA_CPU=plain forces plain

// Cubic B-spline weights of the 4 taps (-1, 0, +1, +2) at a fraction f/256,
// scaled to sum exactly 256.
const int* bsplineWeights(int f);

}  // namespace zembra
