#include "decoder/mc.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define ZEMBRA_X86 1
#endif

namespace zembra {
namespace {

template <int W, int Half, bool Avg, bool Cascaded>
void mcPlain(uint8_t* dst, int ds, const uint8_t* src, int ss, int h) {
    for (int y = 0; y < h; ++y, dst += ds, src += ss) {
        for (int x = 0; x < W; ++x) {
            int p;
            if constexpr (Half == 0) {
                p = src[x];
            } else if constexpr (Half == 1) {
                p = (src[x] + src[x + 1] + 1) >> 1;
            } else if constexpr (Half == 2) {
                p = (src[x] + src[x + ss] + 1) >> 1;
            } else if constexpr (Cascaded) {
                const int m = (src[x] + src[x + 1] + 1) >> 1;
                const int n = (src[x + ss] + src[x + ss + 1] + 1) >> 1;
                p = (m + n + 1) >> 1;
            } else {
                p = (src[x] + src[x + 1] + src[x + ss] + src[x + ss + 1] + 2) >> 2;
            }
            dst[x] = uint8_t(Avg ? (dst[x] + p + 1) >> 1 : p);
        }
    }
}

template <bool Cascaded>
void fillPlain(McKernels& k) {
    k.fn[0][0][0] = mcPlain<8, 0, false, Cascaded>;
    k.fn[0][0][1] = mcPlain<8, 1, false, Cascaded>;
    k.fn[0][0][2] = mcPlain<8, 2, false, Cascaded>;
    k.fn[0][0][3] = mcPlain<8, 3, false, Cascaded>;
    k.fn[0][1][0] = mcPlain<16, 0, false, Cascaded>;
    k.fn[0][1][1] = mcPlain<16, 1, false, Cascaded>;
    k.fn[0][1][2] = mcPlain<16, 2, false, Cascaded>;
    k.fn[0][1][3] = mcPlain<16, 3, false, Cascaded>;
    k.fn[1][0][0] = mcPlain<8, 0, true, Cascaded>;
    k.fn[1][0][1] = mcPlain<8, 1, true, Cascaded>;
    k.fn[1][0][2] = mcPlain<8, 2, true, Cascaded>;
    k.fn[1][0][3] = mcPlain<8, 3, true, Cascaded>;
    k.fn[1][1][0] = mcPlain<16, 0, true, Cascaded>;
    k.fn[1][1][1] = mcPlain<16, 1, true, Cascaded>;
    k.fn[1][1][2] = mcPlain<16, 2, true, Cascaded>;
    k.fn[1][1][3] = mcPlain<16, 3, true, Cascaded>;
}

#ifdef ZEMBRA_X86
template <int W>
__attribute__((target("sse2"))) inline __m128i load(const uint8_t* p) {
    if constexpr (W == 16)
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    else
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
template <int W>
__attribute__((target("sse2"))) inline void store(uint8_t* p, __m128i v) {
    if constexpr (W == 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// (a + b + c + d + 2) >> 2 per byte, through 16-bit lanes.
__attribute__((target("sse2"))) inline __m128i avg4(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i z = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z)),
                               _mm_add_epi16(_mm_unpacklo_epi8(c, z), _mm_unpacklo_epi8(d, z)));
    __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z)),
                               _mm_add_epi16(_mm_unpackhi_epi8(c, z), _mm_unpackhi_epi8(d, z)));
    lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
    hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
    return _mm_packus_epi16(lo, hi);
}

template <int W, int Half, bool Avg, bool Cascaded>
__attribute__((target("sse2"))) void mcSse2(uint8_t* dst, int ds, const uint8_t* src, int ss,
                                            int h) {
    for (int y = 0; y < h; ++y, dst += ds, src += ss) {
        __m128i p;
        if constexpr (Half == 0) {
            p = load<W>(src);
        } else if constexpr (Half == 1) {
            p = _mm_avg_epu8(load<W>(src), load<W>(src + 1));
        } else if constexpr (Half == 2) {
            p = _mm_avg_epu8(load<W>(src), load<W>(src + ss));
        } else if constexpr (Cascaded) {
            p = _mm_avg_epu8(_mm_avg_epu8(load<W>(src), load<W>(src + 1)),
                             _mm_avg_epu8(load<W>(src + ss), load<W>(src + ss + 1)));
        } else {
            p = avg4(load<W>(src), load<W>(src + 1), load<W>(src + ss), load<W>(src + ss + 1));
        }
        if constexpr (Avg) p = _mm_avg_epu8(p, load<W>(dst));
        store<W>(dst, p);
    }
}

template <bool Cascaded>
void fillSse2(McKernels& k) {
    k.fn[0][0][0] = mcSse2<8, 0, false, Cascaded>;
    k.fn[0][0][1] = mcSse2<8, 1, false, Cascaded>;
    k.fn[0][0][2] = mcSse2<8, 2, false, Cascaded>;
    k.fn[0][0][3] = mcSse2<8, 3, false, Cascaded>;
    k.fn[0][1][0] = mcSse2<16, 0, false, Cascaded>;
    k.fn[0][1][1] = mcSse2<16, 1, false, Cascaded>;
    k.fn[0][1][2] = mcSse2<16, 2, false, Cascaded>;
    k.fn[0][1][3] = mcSse2<16, 3, false, Cascaded>;
    k.fn[1][0][0] = mcSse2<8, 0, true, Cascaded>;
    k.fn[1][0][1] = mcSse2<8, 1, true, Cascaded>;
    k.fn[1][0][2] = mcSse2<8, 2, true, Cascaded>;
    k.fn[1][0][3] = mcSse2<8, 3, true, Cascaded>;
    k.fn[1][1][0] = mcSse2<16, 0, true, Cascaded>;
    k.fn[1][1][1] = mcSse2<16, 1, true, Cascaded>;
    k.fn[1][1][2] = mcSse2<16, 2, true, Cascaded>;
    k.fn[1][1][3] = mcSse2<16, 3, true, Cascaded>;
}
#endif

}  // namespace

McKernels makeMcKernels(McFamily family, CpuLevel level) {
    McKernels k{};
    const bool cascaded = family == McFamily::Cascaded;
    if (cascaded)
        fillPlain<true>(k);
    else
        fillPlain<false>(k);
#ifdef ZEMBRA_X86
    if (level >= CpuLevel::Sse2) {
        if (cascaded)
            fillSse2<true>(k);
        else
            fillSse2<false>(k);
    }
#else
    (void)level;
#endif
    return k;
}

const McKernels& mcKernels(McFamily family) {
    static const McKernels exact = makeMcKernels(McFamily::Exact, cpuLevel());
    static const McKernels cascaded = makeMcKernels(McFamily::Cascaded, cpuLevel());
    return family == McFamily::Cascaded ? cascaded : exact;
}

}  // namespace zembra
