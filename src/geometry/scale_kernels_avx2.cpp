// The horizontal pass in 256-bit registers: the two halves of a register
// take two neighbouring groups of four pixels, each from its own base, with
// the same byte shuffles, weights and bias as the SSSE3 kernel; so the
// integer sums, and the bytes, are the plain path's. This file alone is
// compiled for AVX2 and leaves the upper halves clean on every way out, so
// the SSE code that runs after it (libm among it) pays no transition.
#include "geometry/scale_kernels_x86.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstdint>

namespace zembra {
namespace {

using Group = HorizontalTaps::Group;

inline __m256i twoHalves(const void* low, const void* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(low))),
        _mm_loadu_si128(static_cast<const __m128i*>(high)), 1);
}

// Pairs of each pixel's values beside its weights, weighed by pmaddwd with
// the values less 32768 (see the SSSE3 kernel).
inline __m256i pickAndWeigh(__m256i lo, __m256i hi, const Group& a, const Group& b, int v) {
    const __m256i m = _mm256_or_si256(_mm256_shuffle_epi8(lo, twoHalves(a.low[v], b.low[v])),
                                      _mm256_shuffle_epi8(hi, twoHalves(a.high[v], b.high[v])));
    return _mm256_madd_epi16(_mm256_xor_si256(m, _mm256_set1_epi16(int16_t(-32768))),
                             twoHalves(a.weight[v], b.weight[v]));
}

// Pixels 4g .. 4g + 7 as 32-bit results, groups g and g + 1 both fitting.
// Inlined by force: as a call, twice for every sixteen pixels, its 256-bit
// result went through memory and the call cost as much as its work.
[[gnu::always_inline]] inline __m256i eightPixels(const uint16_t* tmp, int taps,
                                                  const Group* group) {
    const Group& a = group[0];
    const Group& b = group[1];
    const __m256i lo = twoHalves(tmp + a.base, tmp + b.base);
    __m256i sum;
    if (a.fits == 2 && b.fits == 2) {
        const __m256i m = _mm256_shuffle_epi8(lo, twoHalves(a.low[0], b.low[0]));
        sum = _mm256_madd_epi16(_mm256_xor_si256(m, _mm256_set1_epi16(int16_t(-32768))),
                                twoHalves(a.weight[0], b.weight[0]));
    } else {
        // A group of one shuffle has nothing but zeroing entries in `high`.
        const __m256i hi = twoHalves(tmp + a.base + 8, tmp + b.base + 8);
        if (taps == 2) {
            sum = pickAndWeigh(lo, hi, a, b, 0);
        } else {
            const __m256 p0 = _mm256_castsi256_ps(pickAndWeigh(lo, hi, a, b, 0));
            const __m256 p1 = _mm256_castsi256_ps(pickAndWeigh(lo, hi, a, b, 1));
            sum = _mm256_add_epi32(
                _mm256_castps_si256(_mm256_shuffle_ps(p0, p1, _MM_SHUFFLE(2, 0, 2, 0))),
                _mm256_castps_si256(_mm256_shuffle_ps(p0, p1, _MM_SHUFFLE(3, 1, 3, 1))));
        }
    }
    return _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(256 * 32768 + 32768)), 16);
}

// Sixteen results (pixels 0-3 and 4-7 in the halves of `first`, 8-15 in
// `second`) saturated to bytes and stored in order.
inline void storeSixteen(__m256i first, __m256i second, uint8_t* out) {
    // Words: [0-3 8-11 | 4-7 12-15]; bytes as dwords: 0-3, 8-11 in dwords 0
    // and 1, 4-7, 12-15 in dwords 4 and 5.
    const __m256i words = _mm256_packs_epi32(first, second);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    const __m256i ordered =
        _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 0, 4, 1, 5));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(ordered));
}

inline bool allFit(const Group* group) {
    return group[0].fits && group[1].fits && group[2].fits && group[3].fits;
}

// A pair's eight pixels as 32-bit results: eightPixels' one-shuffle form,
// its tables read in one piece each.
inline __m256i pairPixels(const uint16_t* tmp, const HorizontalTaps::GroupPair& pair) {
    const auto at = [](const void* p) {
        return _mm256_loadu_si256(static_cast<const __m256i*>(p));
    };
    const __m256i m =
        _mm256_shuffle_epi8(twoHalves(tmp + pair.base[0], tmp + pair.base[1]), at(pair.shuffle));
    const __m256i sum =
        _mm256_madd_epi16(_mm256_xor_si256(m, _mm256_set1_epi16(int16_t(-32768))), at(pair.weight));
    return _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(256 * 32768 + 32768)), 16);
}

// Rows whose groups were all paired: no group needs checking on the way.
void horizontalPairs(const uint16_t* tmp, const HorizontalTaps& h, uint8_t* out) {
    const int pairs = int(h.pairs.size());
    const HorizontalTaps::GroupPair* pair = h.pairs.data();
    int p = 0;
    for (; p + 2 <= pairs; p += 2)
        storeSixteen(pairPixels(tmp, pair[p]), pairPixels(tmp, pair[p + 1]), out + 8 * p);
    _mm256_zeroupper();
    const int groups = int(h.groups.size());
    horizontalGroupsSsse3(tmp, h, 2 * p, groups, out);
    horizontalPixels(tmp, h, 4 * groups, h.width, out);
}

}  // namespace

void horizontalAvx2(const uint16_t* tmp, const HorizontalTaps& h, uint8_t* out) {
    if (!h.pairs.empty()) {
        horizontalPairs(tmp, h, out);
        return;
    }
    const int groups = int(h.groups.size());
    const Group* group = h.groups.data();
    int g = 0;
    for (; g + 4 <= groups; g += 4) {
        if (!allFit(group + g)) {
            // A group spread wider than one load: these four the SSSE3 way.
            _mm256_zeroupper();
            horizontalGroupsSsse3(tmp, h, g, g + 4, out);
            continue;
        }
        storeSixteen(eightPixels(tmp, h.taps, group + g), eightPixels(tmp, h.taps, group + g + 2),
                     out + 4 * g);
    }
    _mm256_zeroupper();
    horizontalGroupsSsse3(tmp, h, g, groups, out);
    horizontalPixels(tmp, h, 4 * groups, h.width, out);
}

}  // namespace zembra
#endif
