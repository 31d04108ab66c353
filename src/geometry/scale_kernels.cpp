#include "geometry/scale_kernels.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "geometry/scale_kernels_x86.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>
#define ZEMBRA_SCALE_X86 1
#endif

namespace zembra {

// Pixels [from, to) of the horizontal pass.
void horizontalPixels(const uint16_t* tmp, const HorizontalTaps& h, int from, int to,
                      uint8_t* out) {
    const int* c = h.column.data();
    const int16_t* w = h.weight.data();
    if (h.taps == 2) {
        for (int x = from; x < to; ++x) {
            const int v = tmp[c[2 * x]] * w[2 * x] + tmp[c[2 * x + 1]] * w[2 * x + 1];
            out[x] = uint8_t(std::min((v + 32768) >> 16, 255));
        }
        return;
    }
    for (int x = from; x < to; ++x) {
        const int* cx = c + size_t(x) * size_t(h.taps);
        const int16_t* wx = w + size_t(x) * size_t(h.taps);
        int v = 0;
        for (int k = 0; k < h.taps; ++k) v += tmp[cx[k]] * wx[k];
        out[x] = uint8_t(std::min((v + 32768) >> 16, 255));
    }
}

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

void horizontalPlain(const uint16_t* tmp, const HorizontalTaps& h, uint8_t* out) {
    horizontalPixels(tmp, h, 0, h.width, out);
}

// Values [from, to) of the sinc kernel's vertical pass.
void blendSincValues(const uint8_t* const* rows, const int16_t* w, int taps, int16_t* tmp, int from,
                     int to) {
    for (int i = from; i < to; ++i) {
        int v = 0;
        for (int k = 0; k < taps; ++k) v += rows[k][i] * w[k];
        tmp[i] = int16_t((v + 128) >> 8);
    }
}

void blendSincPlain(const uint8_t* const* rows, const int16_t* w, int taps, int16_t* tmp, int n) {
    blendSincValues(rows, w, taps, tmp, 0, n);
}

inline uint8_t sincPixel(int sum) { return uint8_t(std::clamp((sum + (1 << 19)) >> 20, 0, 255)); }

// Pixels [from, to) of the sinc kernel's horizontal pass.
void horizontalSincPixels(const int16_t* tmp, const SincTaps& h, int from, int to, uint8_t* out) {
    for (int x = from; x < to; ++x) {
        const int16_t* s = tmp + h.first[size_t(x)];
        const int16_t* w = h.weight.data() + size_t(x) * size_t(h.stride);
        int v = 0;
        for (int k = 0; k < h.taps; ++k) v += s[k] * w[k];
        out[x] = sincPixel(v);
    }
}

void horizontalSincPlain(const int16_t* tmp, const SincTaps& h, uint8_t* out) {
    horizontalSincPixels(tmp, h, 0, h.count, out);
}

#ifdef ZEMBRA_SCALE_X86
// Four pixels a step: two loads cover the group's columns, byte shuffles put
// each pixel's values beside its weights and pmaddwd sums them. pmaddwd
// multiplies signed words, so the values go in less 32768 (their top bit
// flipped) and the weights' 256 x 32768 comes back with the rounding
// constant; the integer sums are the plain path's exactly.
__attribute__((target("ssse3"))) inline __m128i pickAndWeigh(__m128i lo, __m128i hi,
                                                             const HorizontalTaps::Group& gr,
                                                             int v) {
    const auto at = [](const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); };
    const __m128i m =
        _mm_or_si128(_mm_shuffle_epi8(lo, at(gr.low[v])), _mm_shuffle_epi8(hi, at(gr.high[v])));
    return _mm_madd_epi16(_mm_xor_si128(m, _mm_set1_epi16(int16_t(-32768))), at(gr.weight[v]));
}

}  // namespace

// Groups [from, to) of the horizontal pass; a group whose columns spread too
// wide takes the plain path.
__attribute__((target("ssse3"))) void horizontalGroupsSsse3(const uint16_t* tmp,
                                                            const HorizontalTaps& h, int from,
                                                            int to, uint8_t* out) {
    const __m128i bias = _mm_set1_epi32(256 * 32768 + 32768);
    for (int g = from; g < to; ++g) {
        const HorizontalTaps::Group& gr = h.groups[size_t(g)];
        if (!gr.fits) {
            horizontalPixels(tmp, h, 4 * g, 4 * g + 4, out);
            continue;
        }
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tmp + gr.base));
        __m128i sum;
        if (gr.fits == 2) {
            // All columns among the first 8 values: one shuffle does.
            const __m128i m =
                _mm_shuffle_epi8(lo, _mm_loadu_si128(reinterpret_cast<const __m128i*>(gr.low[0])));
            sum = _mm_madd_epi16(_mm_xor_si128(m, _mm_set1_epi16(int16_t(-32768))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(gr.weight[0])));
        } else if (const __m128i hi =
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(tmp + gr.base + 8));
                   h.taps == 2) {
            sum = pickAndWeigh(lo, hi, gr, 0);
        } else {
            // Pairs (0 1) (2 3) of each pixel: add the even and odd words.
            const __m128 p0 = _mm_castsi128_ps(pickAndWeigh(lo, hi, gr, 0));
            const __m128 p1 = _mm_castsi128_ps(pickAndWeigh(lo, hi, gr, 1));
            sum = _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(p0, p1, _MM_SHUFFLE(2, 0, 2, 0))),
                                _mm_castps_si128(_mm_shuffle_ps(p0, p1, _MM_SHUFFLE(3, 1, 3, 1))));
        }
        sum = _mm_srai_epi32(_mm_add_epi32(sum, bias), 16);
        const __m128i words = _mm_packs_epi32(sum, sum);
        const int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(out + 4 * g, &four, 4);
    }
}

namespace {

__attribute__((target("ssse3"))) void horizontalSsse3(const uint16_t* tmp, const HorizontalTaps& h,
                                                      uint8_t* out) {
    const int groups = int(h.groups.size());
    horizontalGroupsSsse3(tmp, h, 0, groups, out);
    horizontalPixels(tmp, h, 4 * groups, h.width, out);
}

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
// 32 pixels a step in 256-bit registers; the same exact 16-bit sums.
__attribute__((target("avx2"))) void blend2Avx2(const uint8_t* a, const uint8_t* b, int f,
                                                uint16_t* tmp, int n) {
    const __m256i vf = _mm256_set1_epi16(int16_t(f)), vg = _mm256_set1_epi16(int16_t(256 - f));
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        for (int h = 0; h < 32; h += 16) {
            const __m256i va =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i + h)));
            const __m256i vb =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i + h)));
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(tmp + i + h),
                _mm256_add_epi16(_mm256_mullo_epi16(va, vg), _mm256_mullo_epi16(vb, vf)));
        }
    }
    // Clean upper halves before the SSE code that follows: the compiler
    // leaves this to the function here, and dirty ones slow down every
    // SSE instruction after them.
    _mm256_zeroupper();
    blend2Sse2(a + i, b + i, f, tmp + i, n - i);
}

__attribute__((target("avx2"))) void blend4Avx2(const uint8_t* const rows[4], const int w[4],
                                                uint16_t* tmp, int n) {
    __m256i vw[4];
    for (int k = 0; k < 4; ++k) vw[k] = _mm256_set1_epi16(int16_t(w[k]));
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i sum = _mm256_setzero_si256();
        for (int k = 0; k < 4; ++k) {
            const __m256i v = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i)));
            sum = _mm256_add_epi16(sum, _mm256_mullo_epi16(v, vw[k]));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(tmp + i), sum);
    }
    _mm256_zeroupper();
    const uint8_t* rest[4] = {rows[0] + i, rows[1] + i, rows[2] + i, rows[3] + i};
    blend4Plain(rest, w, tmp + i, n - i);
}

// The sinc kernel's vertical pass, rows taken in pairs so that pmaddwd
// weighs two rows at once; an odd last row pairs with a zero weight. The
// 32-bit sums and the arithmetic shift are the plain path's exactly.
inline __m128i rowPairWeights(const int16_t* w, int k, int taps) {
    const int16_t second = k + 1 < taps ? w[k + 1] : int16_t(0);
    return _mm_set1_epi32(int32_t(uint32_t(uint16_t(w[k])) | (uint32_t(uint16_t(second)) << 16)));
}

void blendSincSse2(const uint8_t* const* rows, const int16_t* w, int taps, int16_t* tmp, int n) {
    const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi32(128);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i lo = round, hi = round;
        for (int k = 0; k < taps; k += 2) {
            const uint8_t* b = rows[k + 1 < taps ? k + 1 : k];
            const __m128i va = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[k] + i)), zero);
            const __m128i vb =
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + i)), zero);
            const __m128i pw = rowPairWeights(w, k, taps);
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(va, vb), pw));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(va, vb), pw));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tmp + i),
                         _mm_packs_epi32(_mm_srai_epi32(lo, 8), _mm_srai_epi32(hi, 8)));
    }
    blendSincValues(rows, w, taps, tmp, i, n);
}

// Four pixels a step, eight taps a load; the four pixels' partial sums are
// folded together at the end.
void horizontalSincSse2(const int16_t* tmp, const SincTaps& h, uint8_t* out) {
    const int quads = h.count / 4;
    const __m128i round = _mm_set1_epi32(1 << 19);
    for (int q = 0; q < quads; ++q) {
        __m128i acc[4];
        for (int j = 0; j < 4; ++j) {
            const int x = 4 * q + j;
            const int16_t* s = tmp + h.first[size_t(x)];
            const int16_t* w = h.weight.data() + size_t(x) * size_t(h.stride);
            __m128i a = _mm_setzero_si128();
            for (int k = 0; k < h.stride; k += 8)
                a = _mm_add_epi32(
                    a, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k))));
            acc[j] = a;
        }
        const __m128i s01 =
            _mm_add_epi32(_mm_unpacklo_epi32(acc[0], acc[1]), _mm_unpackhi_epi32(acc[0], acc[1]));
        const __m128i s23 =
            _mm_add_epi32(_mm_unpacklo_epi32(acc[2], acc[3]), _mm_unpackhi_epi32(acc[2], acc[3]));
        __m128i sum = _mm_add_epi32(_mm_unpacklo_epi64(s01, s23), _mm_unpackhi_epi64(s01, s23));
        sum = _mm_srai_epi32(_mm_add_epi32(sum, round), 20);
        const __m128i words = _mm_packs_epi32(sum, sum);
        const int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(out + 4 * q, &four, 4);
    }
    horizontalSincPixels(tmp, h, 4 * quads, h.count, out);
}

__attribute__((target("avx2"))) void blendSincAvx2(const uint8_t* const* rows, const int16_t* w,
                                                   int taps, int16_t* tmp, int n) {
    const __m256i round = _mm256_set1_epi32(128);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i lo = round, hi = round;
        for (int k = 0; k < taps; k += 2) {
            const uint8_t* b = rows[k + 1 < taps ? k + 1 : k];
            const __m256i va = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i)));
            const __m256i vb =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
            const __m256i pw = _mm256_broadcastsi128_si256(rowPairWeights(w, k, taps));
            // Within each 128-bit lane: pixels 0-3 (lo) and 4-7 (hi), which
            // the lane-wise pack below puts back in order.
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(va, vb), pw));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(va, vb), pw));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(tmp + i),
                            _mm256_packs_epi32(_mm256_srai_epi32(lo, 8), _mm256_srai_epi32(hi, 8)));
    }
    _mm256_zeroupper();
    blendSincValues(rows, w, taps, tmp, i, n);
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

void HorizontalTaps::build(int tapsPerPixel, int outWidth, std::vector<int> columns,
                           std::vector<int16_t> weights) {
    taps = tapsPerPixel;
    width = outWidth;
    column = std::move(columns);
    weight = std::move(weights);
    groups.assign(size_t(std::max(width, 0) / 4), Group{});
    pairs.clear();
    // Only 2 or 4 taps fit a group's two shuffles.
    if (taps != 2 && taps != 4) return;
    for (size_t g = 0; g < groups.size(); ++g) {
        Group& gr = groups[g];
        const size_t first = g * 4 * size_t(taps), slots = 4 * size_t(taps);
        int lo = INT_MAX, hi = INT_MIN;
        for (size_t i = first; i < first + slots; ++i) {
            lo = std::min(lo, column[i]);
            hi = std::max(hi, column[i]);
        }
        bool fits = lo >= 0 && hi - lo < 16;
        // The weight correction assumes each pixel's weights sum to 256.
        for (size_t x = 0; x < 4 && fits; ++x) {
            int sum = 0;
            for (size_t k = 0; k < size_t(taps); ++k) {
                const int w = weight[first + x * size_t(taps) + k];
                fits = fits && w >= 0 && w <= 256;
                sum += w;
            }
            fits = fits && sum == 256;
        }
        if (!fits) continue;
        gr.base = lo;
        gr.fits = taps == 2 && hi - lo < 8 ? 2 : 1;
        for (size_t i = 0; i < slots; ++i) {
            const int c = column[first + i] - lo;
            const size_t v = i / 8, lane = i % 8;
            uint8_t* take = c < 8 ? gr.low[v] : gr.high[v];
            uint8_t* skip = c < 8 ? gr.high[v] : gr.low[v];
            take[2 * lane] = uint8_t(2 * (c % 8));
            take[2 * lane + 1] = uint8_t(2 * (c % 8) + 1);
            skip[2 * lane] = skip[2 * lane + 1] = 0x80;
            gr.weight[v][lane] = weight[first + i];
        }
    }
    pairGroups();
}

void HorizontalTaps::pairGroups() {
    pairs.clear();
    const size_t count = groups.size() / 2;
    for (size_t g = 0; g < 2 * count; ++g)
        if (groups[g].fits != 2) return;
    pairs.resize(count);
    for (size_t p = 0; p < count; ++p) {
        for (size_t half = 0; half < 2; ++half) {
            const Group& gr = groups[2 * p + half];
            pairs[p].base[half] = gr.base;
            std::memcpy(pairs[p].shuffle + 16 * half, gr.low[0], 16);
            std::memcpy(pairs[p].weight + 8 * half, gr.weight[0], sizeof gr.weight[0]);
        }
    }
}

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLobes = 3.0;

double lanczos(double x) {
    x = std::fabs(x);
    if (x < 1e-9) return 1.0;
    if (x >= kLobes) return 0.0;
    const double px = kPi * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// Rounds weights summing to 1 to 14 bits summing to exactly 16384; the
// remainder goes to the largest weight, where it matters least.
void quantiseWeights(const std::vector<double>& w, int16_t* out) {
    int sum = 0;
    size_t largest = 0;
    for (size_t k = 0; k < w.size(); ++k) {
        out[k] = int16_t(std::lround(w[k] * 16384.0));
        sum += out[k];
        if (w[k] > w[largest]) largest = k;
    }
    out[largest] = int16_t(out[largest] + 16384 - sum);
}

}  // namespace

SincTaps lanczosTaps(int size, double start, double span, int count) {
    SincTaps t;
    if (size <= 0 || count <= 0) return t;
    const double scale = std::max(span, 1e-6) / count;
    const double widen = std::max(scale, 1.0);
    const double radius = kLobes * widen;
    // The ideal window of a sample; it is moved inside the source and the
    // weights of samples beyond an edge fold onto that edge's sample.
    const int ideal = int(std::ceil(2 * radius)) + 2;
    t.taps = std::min(ideal, size);
    t.stride = (t.taps + 7) / 8 * 8;
    t.count = count;
    t.first.resize(size_t(count));
    t.lead.resize(size_t(count));
    t.live.resize(size_t(count));
    t.weight.assign(size_t(count) * size_t(t.stride), 0);
    std::vector<double> w(size_t(t.taps));
    for (int i = 0; i < count; ++i) {
        const double centre = start + (i + 0.5) * scale - 0.5;
        const int from = int(std::floor(centre - radius));
        const int first = std::clamp(from, 0, size - t.taps);
        std::fill(w.begin(), w.end(), 0.0);
        double total = 0;
        for (int j = from; j < from + ideal; ++j) {
            const double v = lanczos((j - centre) / widen);
            w[size_t(std::clamp(j, 0, size - 1) - first)] += v;
            total += v;
        }
        for (double& v : w) v /= total;
        t.first[size_t(i)] = first;
        int16_t* q = t.weight.data() + size_t(i) * size_t(t.stride);
        quantiseWeights(w, q);
        // The weights sum to 16384, so at least one is not zero.
        int lead = 0, end = t.taps;
        while (q[lead] == 0) ++lead;
        while (q[end - 1] == 0) --end;
        t.lead[size_t(i)] = lead;
        t.live[size_t(i)] = end - lead;
    }
    return t;
}

const int* bsplineWeights(int f) {
    static const BsplineTable table;
    return table.w[size_t(f & 255)].data();
}

ScaleKernels makeScaleKernels(CpuLevel level) {
    ScaleKernels k{blend2Plain, blend4Plain, horizontalPlain, blendSincPlain, horizontalSincPlain};
#ifdef ZEMBRA_SCALE_X86
    if (level >= CpuLevel::Sse2) {
        k.blend2 = blend2Sse2;
        k.blend4 = blend4Sse2;
        k.blendSinc = blendSincSse2;
        k.horizontalSinc = horizontalSincSse2;
    }
    if (level >= CpuLevel::Ssse3) k.horizontal = horizontalSsse3;
    if (level >= CpuLevel::Avx2) {
        k.blend2 = blend2Avx2;
        k.blend4 = blend4Avx2;
        k.blendSinc = blendSincAvx2;
        k.horizontal = horizontalAvx2;
    }
#else
    (void)level;
#endif
    return k;
}

const ScaleKernels& scaleKernels() {
    static const ScaleKernels table = makeScaleKernels(cpuLevel());
    return table;
}

}  // namespace zembra
