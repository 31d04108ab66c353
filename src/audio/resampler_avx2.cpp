// The resampler's eight-frame sum two frames a register (compiled with
// -mavx2 but no FMA, see CMakeLists.txt): every sum adds the same products
// in the same order as the plain loop, so the samples are the same.
#include <immintrin.h>

#include <cstddef>

namespace zembra {

// Each load brings frames 2p and 2p + 1 from the paired ring.
void resampleEightWaysAvx2(const double* taps, size_t count, const double* pairs,
                           double* sums) {
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
    for (size_t t = 0; t < count; ++t) {
        const __m256d h = _mm256_set1_pd(taps[t]);
        const double* p = pairs + 4 * t;
        a0 = _mm256_add_pd(a0, _mm256_mul_pd(_mm256_loadu_pd(p), h));
        a1 = _mm256_add_pd(a1, _mm256_mul_pd(_mm256_loadu_pd(p + 4 * 320), h));
        a2 = _mm256_add_pd(a2, _mm256_mul_pd(_mm256_loadu_pd(p + 4 * 640), h));
        a3 = _mm256_add_pd(a3, _mm256_mul_pd(_mm256_loadu_pd(p + 4 * 960), h));
    }
    _mm256_storeu_pd(sums, a0);
    _mm256_storeu_pd(sums + 4, a1);
    _mm256_storeu_pd(sums + 8, a2);
    _mm256_storeu_pd(sums + 12, a3);
}

}  // namespace zembra
