// SSE2 versions of the block distortion kernels.
#include <emmintrin.h>

#include <cmath>

#include "encoder/kernels.h"

namespace zembra {

namespace {

inline __m128i load16(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline int hsum64(__m128i v) {
    return _mm_cvtsi128_si32(v) + _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
}

inline int hsum32(__m128i v) {
    v = _mm_add_epi32(v, _mm_srli_si128(v, 8));
    v = _mm_add_epi32(v, _mm_srli_si128(v, 4));
    return _mm_cvtsi128_si32(v);
}

int sad16Sse2(const std::uint8_t* a, const std::uint8_t* b, int stride, int limit) {
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; y += 4) {
        for (int k = 0; k < 4; ++k) {
            acc = _mm_add_epi64(acc, _mm_sad_epu8(load16(a), load16(b)));
            a += stride;
            b += stride;
        }
        int sum = hsum64(acc);
        if (sum > limit) return sum;
    }
    return hsum64(acc);
}

// Exact (a + b + c + d + 2) >> 2 on 16 bytes.
inline __m128i avg4(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    __m128i lo =
        _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                      _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
    __m128i hi =
        _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                      _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
    lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
    hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
    return _mm_packus_epi16(lo, hi);
}

int sad16HalfSse2(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int hx, int hy) {
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y) {
        const std::uint8_t* r0 = ref + y * stride;
        __m128i p;
        if (hx && hy) {
            p = avg4(load16(r0), load16(r0 + 1), load16(r0 + stride), load16(r0 + stride + 1));
        } else {
            p = _mm_avg_epu8(load16(r0), load16(r0 + hx + hy * stride));
        }
        acc = _mm_add_epi64(acc, _mm_sad_epu8(load16(cur + y * stride), p));
    }
    return hsum64(acc);
}

int ssd16Sse2(const std::uint8_t* a, int stride, const std::uint8_t* pred) {
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y) {
        __m128i s = load16(a + y * stride);
        __m128i p = load16(pred + y * 16);
        __m128i dlo = _mm_sub_epi16(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(p, zero));
        __m128i dhi = _mm_sub_epi16(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(p, zero));
        acc = _mm_add_epi32(acc, _mm_madd_epi16(dlo, dlo));
        acc = _mm_add_epi32(acc, _mm_madd_epi16(dhi, dhi));
    }
    return hsum32(acc);
}

int variance16Sse2(const std::uint8_t* a, int stride) {
    const __m128i zero = _mm_setzero_si128();
    __m128i s = _mm_setzero_si128(), s2 = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y) {
        __m128i v = load16(a + y * stride);
        s = _mm_add_epi64(s, _mm_sad_epu8(v, zero));
        __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
        s2 = _mm_add_epi32(s2, _mm_madd_epi16(lo, lo));
        s2 = _mm_add_epi32(s2, _mm_madd_epi16(hi, hi));
    }
    int sum = hsum64(s);
    return hsum32(s2) - static_cast<int>(static_cast<long long>(sum) * sum / 256);
}

double variance8Sse2(const std::uint8_t* a, int stride) {
    const __m128i zero = _mm_setzero_si128();
    __m128i s = _mm_setzero_si128(), s2 = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y) {
        __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + y * stride));
        s = _mm_add_epi64(s, _mm_sad_epu8(v, zero));
        __m128i w = _mm_unpacklo_epi8(v, zero);
        s2 = _mm_add_epi32(s2, _mm_madd_epi16(w, w));
    }
    const int sum = _mm_cvtsi128_si32(s), sq = hsum32(s2);
    return (64 * sq - sum * sum) / 4096.0;
}

// 8x8 transpose of int16 rows.
inline void transpose8(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// The integer basis of the plain forward DCT (cos scaled by 2^14, rounded).
struct FdctCoefficients {
    std::int16_t c[8][8];
    FdctCoefficients() {
        const double pi = 3.14159265358979323846;
        for (int u = 0; u < 8; ++u) {
            const double a = u == 0 ? std::sqrt(0.125) : 0.5;
            for (int x = 0; x < 8; ++x)
                c[u][x] = static_cast<std::int16_t>(
                    std::lround(a * std::cos((2 * x + 1) * u * pi / 16.0) * 16384.0));
        }
    }
};

// sum_k c[u][k] * v[k] over k = 0..3 for the eight lanes, in 32 bits, as
// two halves (lanes 0-3, 4-7).
inline void dot4(const __m128i v[4], const std::int16_t* c, __m128i& lo, __m128i& hi) {
    const __m128i c01 = _mm_set1_epi32(
        static_cast<int>(static_cast<std::uint16_t>(c[0]) |
                         static_cast<std::uint32_t>(static_cast<std::uint16_t>(c[1])) << 16));
    const __m128i c23 = _mm_set1_epi32(
        static_cast<int>(static_cast<std::uint16_t>(c[2]) |
                         static_cast<std::uint32_t>(static_cast<std::uint16_t>(c[3])) << 16));
    lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(v[0], v[1]), c01),
                       _mm_madd_epi16(_mm_unpacklo_epi16(v[2], v[3]), c23));
    hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(v[0], v[1]), c01),
                       _mm_madd_epi16(_mm_unpackhi_epi16(v[2], v[3]), c23));
}

// The plain integer forward DCT's arithmetic, eight lines at a time: the same
// products and sums in 32 bits, the same shifts, so the same results.
void fdctIntSse2(const std::int16_t* in, std::int16_t* out) {
    static const FdctCoefficients k;
    __m128i r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * i));
    // Rows: with the block transposed, r[x] holds sample x of every row.
    transpose8(r);
    __m128i e[4], o[4];
    for (int x = 0; x < 4; ++x) {
        e[x] = _mm_add_epi16(r[x], r[7 - x]);
        o[x] = _mm_sub_epi16(r[x], r[7 - x]);
    }
    __m128i t[8];  // t[u]: coefficient u of every row
    const __m128i rowRound = _mm_set1_epi32(1 << 9);
    for (int u = 0; u < 8; ++u) {
        __m128i lo, hi;
        dot4(u & 1 ? o : e, k.c[u], lo, hi);
        lo = _mm_srai_epi32(_mm_add_epi32(lo, rowRound), 10);
        hi = _mm_srai_epi32(_mm_add_epi32(hi, rowRound), 10);
        t[u] = _mm_packs_epi32(lo, hi);
    }
    // Columns: back to rows of coefficients, t[y] = row y.
    transpose8(t);
    __m128i a[4], b[4];
    for (int y = 0; y < 4; ++y) {
        a[y] = _mm_add_epi16(t[y], t[7 - y]);
        b[y] = _mm_sub_epi16(t[y], t[7 - y]);
    }
    const __m128i colRound = _mm_set1_epi32(1 << 17);
    for (int v = 0; v < 8; ++v) {
        __m128i lo, hi;
        dot4(v & 1 ? b : a, k.c[v], lo, hi);
        lo = _mm_srai_epi32(_mm_add_epi32(lo, colRound), 18);
        hi = _mm_srai_epi32(_mm_add_epi32(hi, colRound), 18);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * v), _mm_packs_epi32(lo, hi));
    }
}

}  // namespace

void installSse2Kernels(EncoderKernels& k) {
    k.fdctInt = fdctIntSse2;
    k.variance8 = variance8Sse2;
    k.sad16 = sad16Sse2;
    k.sad16Half = sad16HalfSse2;
    k.ssd16 = ssd16Sse2;
    k.variance16 = variance16Sse2;
}

}  // namespace zembra
