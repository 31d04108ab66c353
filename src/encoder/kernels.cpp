#include "encoder/kernels.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace zembra {

namespace {
#include "encoder/kernel_bodies.inc"
}  // namespace

// Defined in kernels_sse2.cpp and kernels_avx2.cpp.
void installSse2Kernels(EncoderKernels& k);
void installAvx2Kernels(EncoderKernels& k);

EncoderKernels plainKernels() {
    EncoderKernels k;
    k.sad16 = sad16Body;
    k.sad16Packed = sad16PackedBody;
    k.sad16Half = sad16HalfBody;
    k.halfPelSads = nullptr;  // the search's one-by-one sums are quicker
    k.ssd16 = ssd16Body;
    k.sum8 = sum8Body;
    k.quarterSums = quarterSumsBody;
    k.quarterBounds = quarterBoundsBody;
    k.blockSumsRow = blockSumsRowBody;
    k.variance16 = variance16Body;
    k.leastVariance8 = leastVariance8Body;
    k.fdctInt = fdctIntBody;
    k.fdctIntBlocks = fdctIntBlocksBody;
    k.fdctFloat = fdctFloatBody;
    k.idct = idctBody;
    k.idct2 = idct2Body;
    k.quantIntraAc = quantIntraAcBody;
    k.quantNonIntra = quantNonIntraBody;
    k.halfPelRow = halfPelRowBody;
    k.average = averageBody;
    k.blockIn = blockInBody;
    k.blockOut = blockOutBody;
    k.nonZeroMask = nonZeroMaskBody;
    k.roundDeadZone = roundDeadZoneBody;
    k.predict8 = predict8Body;
    k.dequant = dequantBody;
    return k;
}

EncoderKernels makeKernels(CpuLevel level) {
    EncoderKernels k = plainKernels();
    if (level >= CpuLevel::Sse2) installSse2Kernels(k);
    if (level >= CpuLevel::Avx2) installAvx2Kernels(k);
    return k;
}

}  // namespace zembra
