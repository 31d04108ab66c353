#pragma once
// Row kernels of the output scaler. Positions are 16.16 fixed point; the
// kernels weight neighbours with 8-bit fractions (the top 8 bits of the
// 16-bit fraction), so every variant of a kernel gives the same bytes.
//
// A row is made in two passes: a vertical pass blends the 2 (bilinear) or 4
// (bicubic) source rows into 16-bit sums weighted to 256, then a horizontal
// pass weights those columns to 256 again and rounds the 65536-scaled result.

#include <cstdint>
#include <vector>

#include "platform/cpu.h"

namespace zembra {

// The horizontal pass of one plane: each output pixel weights `taps` (2 or
// 4) columns of the 16-bit row with weights >= 0 summing to 256, and the
// result is rounded from 65536 scale:
//   out[x] = min((sum of tmp[column[x][k]] * weight[x][k] + 32768) >> 16, 255)
struct HorizontalTaps {
    int taps = 2;
    int width = 0;
    std::vector<int> column;      // width * taps source columns
    std::vector<int16_t> weight;  // width * taps weights
    // The same for the vector kernels, four pixels a group: the group's
    // columns lie in the 16 values from `base` and are picked with byte
    // shuffles. `fits` is 0 when the columns spread wider (such a group and
    // the pixels after the last whole group take the plain path), 2 when
    // two-tap pixels need only the first 8 values.
    struct Group {
        int base = 0;
        int fits = 0;
        uint8_t low[2][16]{};   // shuffles of tmp[base..base+7] into the pairs
        uint8_t high[2][16]{};  // and of tmp[base+8..base+15]
        int16_t weight[2][8]{};
    };
    std::vector<Group> groups;
    // Two-tap rows whose groups all need one shuffle (the common shrinks):
    // neighbouring groups paired as the AVX2 kernel takes them, each half
    // of the shuffle and the weights ready-made. Empty for other rows.
    struct GroupPair {
        int base[2] = {0, 0};
        uint8_t shuffle[32]{};
        int16_t weight[16]{};
    };
    std::vector<GroupPair> pairs;

    // Sets taps, width, columns and weights and builds the groups.
    void build(int tapsPerPixel, int outWidth, std::vector<int> columns,
               std::vector<int16_t> weights);

private:
    void pairGroups();
};

// The windowed-sinc kernel, in its own integer scale since some of its
// weights are negative: each output sample weights `taps` consecutive source
// samples from first[i] with 14-bit weights summing to 16384. The vertical
// pass keeps 64 x the pixel scale in signed 16-bit values,
//   tmp[x] = (sum of rows[k][x] * weight[i][k] + 128) >> 8,
// and the horizontal pass rounds from 2^20 scale and clamps:
//   out[x] = clamp((sum of tmp[first[x] + k] * weight[x][k] + 2^19) >> 20, 0, 255).
struct SincTaps {
    int taps = 0;                 // source samples an output sample weights
    int stride = 0;               // weights stored per output sample: taps padded to 8
    int count = 0;                // output samples
    std::vector<int> first;       // first source sample of each output sample
    std::vector<int16_t> weight;  // count * stride, the padding zero
    // Where each output sample's non-zero weights lie among its taps: from
    // lead[i], live[i] of them. The window's outer taps often weigh nothing
    // (the lobes end inside it, and where the source keeps its size the
    // weights are a single 16384), so the vertical pass weighs only these.
    std::vector<int> lead;
    std::vector<int> live;
};

// 3-lobe Lanczos taps for `count` output samples over `size` source samples:
// output i is centred on source position start + (i + 0.5) * span / count
// - 0.5, so the span's edges meet the outputs' edges. When shrinking, the
// kernel widens by the factor so that it filters what the output cannot
// hold. Samples outside the source take the nearest edge sample's place.
SincTaps lanczosTaps(int size, double start, double span, int count);

struct ScaleKernels {
    // tmp[i] = a[i] * (256 - f) + b[i] * f
    void (*blend2)(const uint8_t* a, const uint8_t* b, int f, uint16_t* tmp, int n);
    // tmp[i] = sum of rows[k][i] * w[k], k = 0..3, weights >= 0 summing to 256
    void (*blend4)(const uint8_t* const rows[4], const int w[4], uint16_t* tmp, int n);
    // The horizontal pass; tmp holds at least 16 values from the last
    // column any pixel uses.
    void (*horizontal)(const uint16_t* tmp, const HorizontalTaps& h, uint8_t* out);
    // The sinc kernel's vertical pass over `taps` rows, and its horizontal
    // pass; tmp holds h.stride readable values past the last first[x].
    void (*blendSinc)(const uint8_t* const* rows, const int16_t* w, int taps, int16_t* tmp, int n);
    void (*horizontalSinc)(const int16_t* tmp, const SincTaps& h, uint8_t* out);
};

// Each level adds to the one below: SSE2 vertical passes and the sinc
// horizontal pass, the SSSE3 horizontal pass, AVX2 vertical and horizontal
// passes.
ScaleKernels makeScaleKernels(CpuLevel level);
const ScaleKernels& scaleKernels();  // chosen once, for cpuLevel()

// Cubic B-spline weights of the 4 taps (-1, 0, +1, +2) at a fraction f/256,
// scaled to sum exactly 256.
const int* bsplineWeights(int f);

}  // namespace zembra
