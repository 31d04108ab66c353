#include "encoder/kernels.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace zembra {

namespace {
#include "encoder/kernel_bodies.h"
}  // namespace

// Defined in kernels_sse2.cpp and kernels_avx2.cpp.
void installSse2Kernels(EncoderKernels& k);
void installAvx2Kernels(EncoderKernels& k);

CpuLevel detectCpuLevel() {
    CpuLevel level;
    const char* force = std::getenv("ZEMBRA_CPU");
    if (force && std::strcmp(force, "plain") == 0) return level;
    __builtin_cpu_init();
    level.sse2 = __builtin_cpu_supports("sse2");
    level.avx2 = __builtin_cpu_supports("avx2");
    return level;
}

EncoderKernels plainKernels() {
    EncoderKernels k;
    k.sad16 = sad16Body;
    k.sad16Packed = sad16PackedBody;
    k.sad16Half = sad16HalfBody;
    k.ssd16 = ssd16Body;
    k.sum16 = sum16Body;
    k.blockSumsRow = blockSumsRowBody;
    k.variance16 = variance16Body;
    k.variance8 = variance8Body;
    k.fdctInt = fdctIntBody;
    k.fdctFloat = fdctFloatBody;
    k.idct = idctBody;
    k.quantIntraAc = quantIntraAcBody;
    k.quantNonIntra = quantNonIntraBody;
    k.halfPelRow = halfPelRowBody;
    k.average = averageBody;
    k.blockIn = blockInBody;
    k.blockOut = blockOutBody;
    k.nonZeroMask = nonZeroMaskBody;
    k.predict8 = predict8Body;
    k.dequant = dequantBody;
    return k;
}

EncoderKernels makeKernels(const CpuLevel& level) {
    EncoderKernels k = plainKernels();
    if (level.sse2) installSse2Kernels(k);
    if (level.avx2) installAvx2Kernels(k);
    return k;
}

}  // namespace zembra
