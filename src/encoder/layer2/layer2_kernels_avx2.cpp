// The Layer II kernels four doubles at a time (compiled with -mavx2 but no
// FMA, see CMakeLists.txt): every sum adds the same products in the same
// order as the plain kernels, so the bits are the same.
#include <immintrin.h>

#include "encoder/layer2/layer2_kernels.h"

namespace zembra::layer2 {

namespace {

void analyseBlockAvx2(const AnalysisTables& t, const double* x, double* out) {
    alignas(32) double y[64];
    for (int i = 0; i < 64; i += 4) {
        __m256d sum = _mm256_setzero_pd();
        for (int j = 0; j < 8; ++j)
            sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_loadu_pd(t.window + i + 64 * j),
                                                   _mm256_loadu_pd(x + i + 64 * j)));
        _mm256_store_pd(y + i, sum);
    }
    // All 32 sums stay in eight registers.
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0,
            a7 = a0;
    for (int i = 0; i < 64; ++i) {
        const __m256d yi = _mm256_set1_pd(y[i]);
        const double* c = t.cosColumns[i];
        a0 = _mm256_add_pd(a0, _mm256_mul_pd(_mm256_loadu_pd(c), yi));
        a1 = _mm256_add_pd(a1, _mm256_mul_pd(_mm256_loadu_pd(c + 4), yi));
        a2 = _mm256_add_pd(a2, _mm256_mul_pd(_mm256_loadu_pd(c + 8), yi));
        a3 = _mm256_add_pd(a3, _mm256_mul_pd(_mm256_loadu_pd(c + 12), yi));
        a4 = _mm256_add_pd(a4, _mm256_mul_pd(_mm256_loadu_pd(c + 16), yi));
        a5 = _mm256_add_pd(a5, _mm256_mul_pd(_mm256_loadu_pd(c + 20), yi));
        a6 = _mm256_add_pd(a6, _mm256_mul_pd(_mm256_loadu_pd(c + 24), yi));
        a7 = _mm256_add_pd(a7, _mm256_mul_pd(_mm256_loadu_pd(c + 28), yi));
    }
    _mm256_storeu_pd(out, a0);
    _mm256_storeu_pd(out + 4, a1);
    _mm256_storeu_pd(out + 8, a2);
    _mm256_storeu_pd(out + 12, a3);
    _mm256_storeu_pd(out + 16, a4);
    _mm256_storeu_pd(out + 20, a5);
    _mm256_storeu_pd(out + 24, a6);
    _mm256_storeu_pd(out + 28, a7);
}

}  // namespace

void installLayer2Avx2(Layer2Kernels& k) { k.analyseBlock = analyseBlockAvx2; }

}  // namespace zembra::layer2
