#include "encoder/layer2/layer2_kernels.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define ZEMBRA_LAYER2_SSE2 1
#endif

namespace zembra::layer2 {

namespace {

void analyseBlockPlain(const AnalysisTables& t, const double* x, double* out) {
    // Each sum starts at 0 and adds its products in the order j (window
    // folding) and i (matrix); the loops run across the sums.
    double y[64];
    for (int i = 0; i < 64; ++i) y[i] = 0;
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 64; ++i) y[i] += t.window[i + 64 * j] * x[i + 64 * j];
    for (int k = 0; k < 32; ++k) out[k] = 0;
    for (int i = 0; i < 64; ++i) {
        const double yi = y[i];
        const double* c = t.cosColumns[i];
        for (int k = 0; k < 32; ++k) out[k] += c[k] * yi;
    }
}

#ifdef ZEMBRA_LAYER2_SSE2
void analyseBlockSse2(const AnalysisTables& t, const double* x, double* out) {
    alignas(16) double y[64];
    for (int i = 0; i < 64; i += 2) {
        __m128d sum = _mm_setzero_pd();
        for (int j = 0; j < 8; ++j)
            sum = _mm_add_pd(
                sum, _mm_mul_pd(_mm_loadu_pd(t.window + i + 64 * j), _mm_loadu_pd(x + i + 64 * j)));
        _mm_store_pd(y + i, sum);
    }
    // Two halves of 16 sums each, so the sums stay in registers.
    for (int half = 0; half < 32; half += 16) {
        __m128d a0 = _mm_setzero_pd(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0,
                a7 = a0;
        for (int i = 0; i < 64; ++i) {
            const __m128d yi = _mm_set1_pd(y[i]);
            const double* c = t.cosColumns[i] + half;
            a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_loadu_pd(c), yi));
            a1 = _mm_add_pd(a1, _mm_mul_pd(_mm_loadu_pd(c + 2), yi));
            a2 = _mm_add_pd(a2, _mm_mul_pd(_mm_loadu_pd(c + 4), yi));
            a3 = _mm_add_pd(a3, _mm_mul_pd(_mm_loadu_pd(c + 6), yi));
            a4 = _mm_add_pd(a4, _mm_mul_pd(_mm_loadu_pd(c + 8), yi));
            a5 = _mm_add_pd(a5, _mm_mul_pd(_mm_loadu_pd(c + 10), yi));
            a6 = _mm_add_pd(a6, _mm_mul_pd(_mm_loadu_pd(c + 12), yi));
            a7 = _mm_add_pd(a7, _mm_mul_pd(_mm_loadu_pd(c + 14), yi));
        }
        double* o = out + half;
        _mm_storeu_pd(o, a0);
        _mm_storeu_pd(o + 2, a1);
        _mm_storeu_pd(o + 4, a2);
        _mm_storeu_pd(o + 6, a3);
        _mm_storeu_pd(o + 8, a4);
        _mm_storeu_pd(o + 10, a5);
        _mm_storeu_pd(o + 12, a6);
        _mm_storeu_pd(o + 14, a7);
    }
}
#endif

void fftPassPlain(double* re, double* im, int n, int half, const double* cs, const double* sn) {
    const int len = 2 * half;
    for (int i = 0; i < n; i += len) {
        for (int k = 0; k < half; ++k) {
            const double c = cs[k], s = sn[k];
            const int a = i + k, b = a + half;
            const double tr = re[b] * c - im[b] * s;
            const double ti = re[b] * s + im[b] * c;
            re[b] = re[a] - tr;
            im[b] = im[a] - ti;
            re[a] += tr;
            im[a] += ti;
        }
    }
}

void measureAllLinesPlain(const SpectrumLines& lines) {
    measureLinesPlain(lines, 0, lines.count);
}

#ifdef ZEMBRA_LAYER2_SSE2
// Two butterflies at a time; a pass of span 1 has only one per group and
// stays plain.
void fftPassSse2(double* re, double* im, int n, int half, const double* cs, const double* sn) {
    if (half < 2) {
        fftPassPlain(re, im, n, half, cs, sn);
        return;
    }
    const int len = 2 * half;
    for (int i = 0; i < n; i += len)
        for (int k = 0; k < half; k += 2) {
            const int a = i + k, b = a + half;
            const __m128d c = _mm_loadu_pd(cs + k), s = _mm_loadu_pd(sn + k);
            const __m128d rb = _mm_loadu_pd(re + b), ib = _mm_loadu_pd(im + b);
            const __m128d ra = _mm_loadu_pd(re + a), ia = _mm_loadu_pd(im + a);
            const __m128d tr = _mm_sub_pd(_mm_mul_pd(rb, c), _mm_mul_pd(ib, s));
            const __m128d ti = _mm_add_pd(_mm_mul_pd(rb, s), _mm_mul_pd(ib, c));
            _mm_storeu_pd(re + b, _mm_sub_pd(ra, tr));
            _mm_storeu_pd(im + b, _mm_sub_pd(ia, ti));
            _mm_storeu_pd(re + a, _mm_add_pd(ra, tr));
            _mm_storeu_pd(im + a, _mm_add_pd(ia, ti));
        }
}
#endif

}  // namespace

void fftPassNarrow(double* re, double* im, int n, int half, const double* cs, const double* sn) {
#ifdef ZEMBRA_LAYER2_SSE2
    fftPassSse2(re, im, n, half, cs, sn);
#else
    fftPassPlain(re, im, n, half, cs, sn);
#endif
}

void measureLinesPlain(const SpectrumLines& l, int from, int to) {
    for (int w = from; w < to; ++w) {
        const double re = l.re[w], im = l.im[w];
        const double e = re * re + im * im;
        const double r = std::sqrt(e);
        // The phase as a unit vector (angle 0 for a silent line).
        const double cr = r > 0 ? re / r : 1.0, sr = r > 0 ? im / r : 0.0;
        // Unpredictability: distance between the line and its prediction
        // from the two previous frames (magnitude 2 r1 - r2, phase
        // 2 f1 - f2, whose unit vector is u1 * u1 * conj(u2)); high lines count
        // as noise-like.
        double c = 0.4;
        const double rp = 2.0 * l.lastR[w] - l.olderR[w];
        if (w < l.predicted && r + std::fabs(rp) > 0) {
            const double c1 = l.lastC[w], s1 = l.lastS[w];
            const double c2 = l.olderC[w], s2 = l.olderS[w];
            const double a = c1 * c1 - s1 * s1, b = 2.0 * c1 * s1;
            const double cp = a * c2 + b * s2, sp = b * c2 - a * s2;
            const double dx = re - rp * cp;
            const double dy = im - rp * sp;
            c = std::sqrt(dx * dx + dy * dy) / (r + std::fabs(rp));
        }
        l.olderR[w] = r;
        l.olderC[w] = cr;
        l.olderS[w] = sr;
        l.energy[w] = e;
        l.unpredictability[w] = c;
    }
}

// Defined in layer2_kernels_avx2.cpp.
void installLayer2Avx2(Layer2Kernels& k);

Layer2Kernels makeLayer2Kernels(CpuLevel level) {
    Layer2Kernels k{analyseBlockPlain, fftPassPlain, measureAllLinesPlain};
#ifdef ZEMBRA_LAYER2_SSE2
    if (level >= CpuLevel::Sse2) {
        k.analyseBlock = analyseBlockSse2;
        k.fftPass = fftPassSse2;
    }
    if (level >= CpuLevel::Avx2) installLayer2Avx2(k);
#else
    (void)level;
#endif
    return k;
}

const Layer2Kernels& layer2Kernels() {
    static const Layer2Kernels kernels = makeLayer2Kernels(cpuLevel());
    return kernels;
}

}  // namespace zembra::layer2
