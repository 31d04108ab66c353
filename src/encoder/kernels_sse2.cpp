// SSE2 versions of the block distortion kernels.
#include <emmintrin.h>

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

}  // namespace

void installSse2Kernels(EncoderKernels& k) {
    k.variance8 = variance8Sse2;
    k.sad16 = sad16Sse2;
    k.sad16Half = sad16HalfSse2;
    k.ssd16 = ssd16Sse2;
    k.variance16 = variance16Sse2;
}

}  // namespace zembra
