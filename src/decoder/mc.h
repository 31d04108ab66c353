#pragma once
// Motion-compensation block kernels: copy or average a w x h block from a
// reference plane at a half-pel offset into the destination.
//
// Two families differ only in the four-point (both half-pel) case:
//   exact:     (a + b + c + d + 2) >> 2
//   cascaded:  ((a + b + 1) >> 1 + (c + d + 1) >> 1 + 1) >> 1
// Averaging with the destination is (p + q + 1) >> 1 in both.

#include <cstdint>

#include "decoder/idct.h"

namespace zembra {

enum class McFamily : int { Exact = 0, Cascaded = 1 };

// Reads (w + 1) x (h + 1) source pixels at most; writes w x h.
using McFn = void (*)(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int h);

struct McKernels {
    // [0] put, [1] average with the destination; [0] 8 wide, [1] 16 wide;
    // half-pel: 0 none, 1 horizontal, 2 vertical, 3 both.
    McFn fn[2][2][4];
};

McKernels makeMcKernels(McFamily family, CpuLevel level);
const McKernels& mcKernels(McFamily family);  // process-wide, chosen once

// Exact family with variants 1, 3, 4; cascaded with variant 2.
inline McFamily mcFamilyFor(IdctVariant v) {
    return v == IdctVariant::Ap922Shuffle ? McFamily::Cascaded : McFamily::Exact;
}

}  // namespace zembra
