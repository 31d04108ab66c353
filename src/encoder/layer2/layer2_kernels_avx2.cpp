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

// Four butterflies at a time; passes of span 1 and 2 have fewer per group
// and take the narrower kernel.
void fftPassAvx2(double* re, double* im, int n, int half, const double* cs, const double* sn) {
    if (half < 4) {
        fftPassNarrow(re, im, n, half, cs, sn);
        return;
    }
    const int len = 2 * half;
    for (int i = 0; i < n; i += len)
        for (int k = 0; k < half; k += 4) {
            const int a = i + k, b = a + half;
            const __m256d c = _mm256_loadu_pd(cs + k), s = _mm256_loadu_pd(sn + k);
            const __m256d rb = _mm256_loadu_pd(re + b), ib = _mm256_loadu_pd(im + b);
            const __m256d ra = _mm256_loadu_pd(re + a), ia = _mm256_loadu_pd(im + a);
            const __m256d tr = _mm256_sub_pd(_mm256_mul_pd(rb, c), _mm256_mul_pd(ib, s));
            const __m256d ti = _mm256_add_pd(_mm256_mul_pd(rb, s), _mm256_mul_pd(ib, c));
            _mm256_storeu_pd(re + b, _mm256_sub_pd(ra, tr));
            _mm256_storeu_pd(im + b, _mm256_sub_pd(ia, ti));
            _mm256_storeu_pd(re + a, _mm256_add_pd(ra, tr));
            _mm256_storeu_pd(im + a, _mm256_add_pd(ia, ti));
        }
}

// Four lines at a time. Both sides of each choice are worked out and the
// plain one's pick kept, so a lane computes exactly what the plain loop does.
void measureLinesAvx2(const SpectrumLines& l) {
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0),
                  two = _mm256_set1_pd(2.0), noise = _mm256_set1_pd(0.4),
                  sign = _mm256_set1_pd(-0.0), predicted = _mm256_set1_pd(double(l.predicted));
    int w = 0;
    for (; w + 4 <= l.count; w += 4) {
        const __m256d re = _mm256_loadu_pd(l.re + w), im = _mm256_loadu_pd(l.im + w);
        const __m256d e = _mm256_add_pd(_mm256_mul_pd(re, re), _mm256_mul_pd(im, im));
        const __m256d r = _mm256_sqrt_pd(e);
        const __m256d sounding = _mm256_cmp_pd(r, zero, _CMP_GT_OQ);
        const __m256d cr = _mm256_blendv_pd(one, _mm256_div_pd(re, r), sounding);
        const __m256d sr = _mm256_blendv_pd(zero, _mm256_div_pd(im, r), sounding);

        const __m256d r2 = _mm256_loadu_pd(l.olderR + w);
        const __m256d rp = _mm256_sub_pd(_mm256_mul_pd(two, _mm256_loadu_pd(l.lastR + w)), r2);
        const __m256d span = _mm256_add_pd(r, _mm256_andnot_pd(sign, rp));
        const __m256d c1 = _mm256_loadu_pd(l.lastC + w), s1 = _mm256_loadu_pd(l.lastS + w);
        const __m256d c2 = _mm256_loadu_pd(l.olderC + w), s2 = _mm256_loadu_pd(l.olderS + w);
        const __m256d a = _mm256_sub_pd(_mm256_mul_pd(c1, c1), _mm256_mul_pd(s1, s1));
        const __m256d b = _mm256_mul_pd(_mm256_mul_pd(two, c1), s1);
        const __m256d cp = _mm256_add_pd(_mm256_mul_pd(a, c2), _mm256_mul_pd(b, s2));
        const __m256d sp = _mm256_sub_pd(_mm256_mul_pd(b, c2), _mm256_mul_pd(a, s2));
        const __m256d dx = _mm256_sub_pd(re, _mm256_mul_pd(rp, cp));
        const __m256d dy = _mm256_sub_pd(im, _mm256_mul_pd(rp, sp));
        const __m256d distance =
            _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)));
        const __m256d index = _mm256_setr_pd(w, w + 1, w + 2, w + 3);
        const __m256d measured = _mm256_and_pd(_mm256_cmp_pd(index, predicted, _CMP_LT_OQ),
                                               _mm256_cmp_pd(span, zero, _CMP_GT_OQ));
        const __m256d c = _mm256_blendv_pd(noise, _mm256_div_pd(distance, span), measured);

        _mm256_storeu_pd(l.olderR + w, r);
        _mm256_storeu_pd(l.olderC + w, cr);
        _mm256_storeu_pd(l.olderS + w, sr);
        _mm256_storeu_pd(l.energy + w, e);
        _mm256_storeu_pd(l.unpredictability + w, c);
    }
    measureLinesPlain(l, w, l.count);
}

}  // namespace

void installLayer2Avx2(Layer2Kernels& k) {
    k.analyseBlock = analyseBlockAvx2;
    k.fftPass = fftPassAvx2;
    k.measureLines = measureLinesAvx2;
}

}  // namespace zembra::layer2
