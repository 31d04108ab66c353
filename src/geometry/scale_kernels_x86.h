#pragma once
// The pieces of the horizontal pass that the kernels of the different
// instruction-set levels share; the AVX2 kernel lives in a file of its own,
// compiled for AVX2, and hands what it cannot take to these.

#include <cstdint>

#include "geometry/scale_kernels.h"

namespace zembra {

// Pixels [from, to) of the horizontal pass, one at a time.
void horizontalPixels(const uint16_t* tmp, const HorizontalTaps& h, int from, int to, uint8_t* out);

#if defined(__x86_64__) || defined(__i386__)
// Groups [from, to), four pixels each, with SSSE3 shuffles.
void horizontalGroupsSsse3(const uint16_t* tmp, const HorizontalTaps& h, int from, int to,
                           uint8_t* out);
// The whole row, two groups to a 256-bit register.
void horizontalAvx2(const uint16_t* tmp, const HorizontalTaps& h, uint8_t* out);
#endif

}  // namespace zembra
