#pragma once
// Inverse DCT of one 8x8 block of coefficients (natural order, in place).
//
// Four variants, chosen by the iDCT setting:
//   1 AP-922 fixed point (16-bit results, not clipped)
//   2 the same transform (identical results; pairs with the cascaded
//     half-pel averaging of the motion compensation)
//   3 fast floating point in double precision, rounded to nearest and
//     clipped to [-256, 255]
//   4 reference double-precision transform, floor(x + 0.5), clipped.
// The AP-922 kernel has plain, SSE2 and AVX2 versions that are bit-identical.

#include <cstdint>

#include "platform/cpu.h"

namespace zembra {

enum class IdctVariant : int { Ap922 = 1, Ap922Shuffle = 2, FastFloat = 3, Reference = 4 };

// iDCT setting 0 -> 1, 4 -> 2, 2 -> 3, 1 -> 4; false for setting 3 (and
// anything unknown), which the program refuses.
bool idctVariantFromSetting(int setting, IdctVariant& variant);

struct IdctKernels {
    void (*ap922)(int16_t* block);
};
IdctKernels makeIdctKernels(CpuLevel level);
const IdctKernels& idctKernels();  // process-wide, chosen once

void idctAp922Plain(int16_t* block);
// The same for a block whose only non-zero coefficient is block[0].
void idctAp922DcOnly(int16_t* block);
void idctFastFloat(int16_t* block);
void idctReference(int16_t* block);

// dcOnly: block[0] is the block's only non-zero coefficient.
inline void inverseTransform(IdctVariant variant, int16_t* block, const IdctKernels& k,
                             bool dcOnly = false) {
    switch (variant) {
        case IdctVariant::FastFloat:
            idctFastFloat(block);
            break;
        case IdctVariant::Reference:
            idctReference(block);
            break;
        default:
            if (dcOnly)
                idctAp922DcOnly(block);
            else
                k.ap922(block);
            break;
    }
}

}  // namespace zembra
