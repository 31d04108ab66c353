// The portable kernel bodies compiled for AVX2 with the loop vectoriser on
// (see CMakeLists.txt); integer and float results equal the plain build.
#include "encoder/kernels.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace zembra {

namespace {
#include "encoder/kernel_bodies.h"
}  // namespace

void installAvx2Kernels(EncoderKernels& k) {
    k.fdctInt = fdctIntBody;
    k.fdctFloat = fdctFloatBody;
    k.idct = idctBody;
    k.quantIntraAc = quantIntraAcBody;
    k.quantNonIntra = quantNonIntraBody;
}

}  // namespace zembra
