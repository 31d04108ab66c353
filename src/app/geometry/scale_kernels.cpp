#include "app/geometry/scale_kernels.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define ZEMBRA_SCALE_X86 1
#endif

namespace zembra {
namespace {

void blend2Plain(const uint8_t* a, const uint8_t* b, int f, uint16_t* tmp, int n) {
    const int g = 256 - f;
    for (int i = 0; i < n; ++i) tmp[i] = uint16_t(a[i] * g + b[i] * f);
}

void blend4Plain(const uint8_t* const rows[4], const int w[4], uint16_t* tmp, int n) {
    for (int i = 0; i < n; ++i)
        tmp[i] =
            uint16_t(rows[0][i] * w[0] + rows[1][i] * w[1] + rows[2][i] * w[2] + rows[3][i] * w[3]);
}

#ifdef ZEMBRA_SCALE_X86
// The sums stay below 65536, so wrapping 16-bit products and adds are exact.
void blend2Sse2(const uint8_t* a, const uint8_t* b, int f, uint16_t* tmp, int n) {
    const __m128i vf = _mm_set1_epi16(int16_t(f)), vg = _mm_set1_epi16(int16_t(256 - f));
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), vg),
                                   _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), vf));
        __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), vg),
                                   _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), vf));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tmp + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tmp + i + 8), hi);
    }
    blend2Plain(a + i, b + i, f, tmp + i, n - i);
}

void blend4Sse2(const uint8_t* const rows[4], const int w[4], uint16_t* tmp, int n) {
    const __m128i zero = _mm_setzero_si128();
    __m128i vw[4];
    for (int k = 0; k < 4; ++k) vw[k] = _mm_set1_epi16(int16_t(w[k]));
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i lo = zero, hi = zero;
        for (int k = 0; k < 4; ++k) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), vw[k]));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), vw[k]));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tmp + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tmp + i + 8), hi);
    }
    const uint8_t* rest[4] = {rows[0] + i, rows[1] + i, rows[2] + i, rows[3] + i};
    blend4Plain(rest, w, tmp + i, n - i);
}
#endif

struct BsplineTable {
    std::array<std::array<int, 4>, 256> w;
    BsplineTable() {
        const auto p3 = [](double t) { return t > 0 ? t * t * t : 0.0; };
        // R(d) = (P(d+2)^3 - 4 P(d+1)^3 + 6 P(d)^3 - 4 P(d-1)^3) / 6
        const auto r = [&](double d) {
            return (p3(d + 2) - 4 * p3(d + 1) + 6 * p3(d) - 4 * p3(d - 1)) / 6.0;
        };
        for (int f = 0; f < 256; ++f) {
            const double t = f / 256.0;
            const double d[4] = {-1 - t, -t, 1 - t, 2 - t};
            int sum = 0;
            for (int k = 0; k < 4; ++k) {
                w[size_t(f)][size_t(k)] = int(std::lround(r(d[k]) * 256.0));
                sum += w[size_t(f)][size_t(k)];
            }
            // Put the rounding remainder on the largest weight.
            w[size_t(f)][f < 128 ? 1 : 2] += 256 - sum;
        }
    }
};

}  // namespace

const int* bsplineWeights(int f) {
    static const BsplineTable table;
    return table.w[size_t(f & 255)].data();
}

ScaleKernels makeScaleKernels(ScaleLevel level) {
    ScaleKernels k{blend2Plain, blend4Plain};
#ifdef ZEMBRA_SCALE_X86
    if (level >= ScaleLevel::Sse2) {
        k.blend2 = blend2Sse2;
        k.blend4 = blend4Sse2;
    }
#else
    (void)level;
#endif
    return k;
}

const ScaleKernels& scaleKernels() {
    static const ScaleKernels table = [] {
        const char* forced = std::getenv("ZEMBRA_CPU");
        if (forced && std::strcmp(forced, "plain") == 0) return makeScaleKernels(ScaleLevel::Plain);
#ifdef ZEMBRA_SCALE_X86
        __builtin_cpu_init();
        if (__builtin_cpu_supports("sse2")) return makeScaleKernels(ScaleLevel::Sse2);
#endif
        return makeScaleKernels(ScaleLevel::Plain);
    }();
    return table;
}

}  // namespace zembra
