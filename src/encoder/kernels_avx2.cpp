// The portable kernel bodies compiled for AVX2 with the loop vectoriser on
// (see CMakeLists.txt); integer and float results equal the plain build.
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "encoder/kernels.h"

namespace zembra {

namespace {
#include "encoder/kernel_bodies.h"
// Two rows per instruction; the early exit looks once, half-way (a look
// costs about as much as two rows), and any value above the limit may come
// back.
int sad16Avx2(const std::uint8_t* a, const std::uint8_t* b, int stride, int limit) {
    __m256i acc = _mm256_setzero_si256();
    auto rows = [stride](const std::uint8_t* p) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride));
        return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    };
    auto total = [](__m256i v) {
        const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        return _mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
    };
    for (int y = 0; y < 16; y += 8) {
        for (int k = 0; k < 4; ++k) {
            acc = _mm256_add_epi64(acc, _mm256_sad_epu8(rows(a), rows(b)));
            a += 2 * stride;
            b += 2 * stride;
        }
        if (y == 0) {
            const int sum = total(acc);
            if (sum > limit) return sum;
        }
    }
    return total(acc);
}

}  // namespace

void installAvx2Kernels(EncoderKernels& k) {
    k.sad16 = sad16Avx2;
    k.fdctFloat = fdctFloatBody;
}

}  // namespace zembra
