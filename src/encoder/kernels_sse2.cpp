// SSE2 versions of the block distortion kernels.
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "encoder/kernels.h"

namespace zembra {

namespace {
#include "encoder/kernel_bodies.inc"
#include "encoder/sse2_transpose.inc"

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

int sad16PackedSse2(const std::uint8_t* blk, const std::uint8_t* ref, int stride, int limit) {
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; y += 4) {
        for (int k = 0; k < 4; ++k) {
            acc = _mm_add_epi64(
                acc,
                _mm_sad_epu8(_mm_load_si128(reinterpret_cast<const __m128i*>(blk)), load16(ref)));
            blk += 16;
            ref += stride;
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

void blockSumsRowSse2(std::uint16_t* col, const std::uint8_t* add, const std::uint8_t* sub, int w,
                      std::uint16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    auto at = [col](int x) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(col + x)); };
    int x = 0;
    if (add) {
        for (; x + 16 <= w; x += 16) {
            const __m128i a = load16(add + x), b = load16(sub + x);
            const __m128i lo = _mm_sub_epi16(_mm_add_epi16(at(x), _mm_unpacklo_epi8(a, zero)),
                                             _mm_unpacklo_epi8(b, zero));
            const __m128i hi = _mm_sub_epi16(_mm_add_epi16(at(x + 8), _mm_unpackhi_epi8(a, zero)),
                                             _mm_unpackhi_epi8(b, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(col + x), lo);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(col + x + 8), hi);
        }
        for (; x < w; ++x) col[x] = static_cast<std::uint16_t>(col[x] + add[x] - sub[x]);
    }
    // Eight sums at a time, from eight loads shifted by one.
    const int n = w - 7;  // outputs
    x = 0;
    for (; x + 8 <= n; x += 8) {
        __m128i s = at(x);
        for (int i = 1; i < 8; ++i) s = _mm_add_epi16(s, at(x + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), s);
    }
    for (; x < n; ++x) {
        std::uint16_t t = 0;
        for (int i = 0; i < 8; ++i) t = static_cast<std::uint16_t>(t + col[x + i]);
        out[x] = t;
    }
}

// A row's two halves summed at once, a register for each half of the rows.
void quarterSumsSse2(const std::uint8_t* a, int stride, int* out) {
    const __m128i zero = _mm_setzero_si128();
    for (int h = 0; h < 2; ++h) {
        __m128i s = zero;
        for (int y = 8 * h; y < 8 * h + 8; ++y)
            s = _mm_add_epi64(s, _mm_sad_epu8(load16(a + y * stride), zero));
        out[2 * h] = _mm_cvtsi128_si32(s);
        out[2 * h + 1] = _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
    }
}

int sum8Sse2(const std::uint8_t* a, int stride) {
    const __m128i zero = _mm_setzero_si128();
    __m128i s = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y)
        s = _mm_add_epi64(
            s,
            _mm_sad_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + y * stride)), zero));
    return _mm_cvtsi128_si32(s);
}

// Eight positions a step. A quarter's sum is at most 64 * 255, so the four
// distances add up without overflowing 16 bits.
std::uint64_t quarterBoundsSse2(const std::uint16_t* sums, int stride, const int* quarters, int n,
                                int limit, std::uint16_t* out) {
    const std::uint16_t* at[4] = {sums, sums + 8, sums + 8 * stride, sums + 8 * stride + 8};
    __m128i q[4];
    for (int i = 0; i < 4; ++i) q[i] = _mm_set1_epi16(static_cast<short>(quarters[i]));
    const __m128i lim = _mm_set1_epi16(static_cast<short>(std::clamp(limit, -1, 65535)));
    const __m128i zero = _mm_setzero_si128();
    std::uint64_t within = 0;
    for (int i = 0; i < n; i += 8) {
        __m128i bound = _mm_setzero_si128();
        for (int j = 0; j < 4; ++j) {
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[j] + i));
            const __m128i d = _mm_or_si128(_mm_subs_epu16(s, q[j]), _mm_subs_epu16(q[j], s));
            bound = _mm_add_epi16(bound, d);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bound);
        // bound <= limit where nothing is left of bound - limit.
        const __m128i below = _mm_cmpeq_epi16(_mm_subs_epu16(bound, lim), zero);
        const auto bits =
            static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(below, zero)));
        within |= bits << i;
    }
    return limit < 0 ? 0 : n < 64 ? within & ((std::uint64_t{1} << n) - 1) : within;
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

// One pass over the sixteen rows: the sums of the left and right eight
// samples and of their squares, kept apart for the four kinds of row (top or
// bottom half, even or odd row), from which every block's sums follow.
int leastVariance8Sse2(const std::uint8_t* a, int stride, bool fields) {
    const __m128i zero = _mm_setzero_si128();
    __m128i s[4], s2[4];  // by kind: [left, right] in 64-bit lanes; squares [l, l, r, r]
    for (int c = 0; c < 4; ++c) s[c] = s2[c] = zero;
    for (int y = 0; y < 16; ++y) {
        const int c = (y >> 3) * 2 + (y & 1);
        const __m128i v = load16(a + y * stride);
        s[c] = _mm_add_epi64(s[c], _mm_sad_epu8(v, zero));
        const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
        const __m128i ql = _mm_madd_epi16(lo, lo), qr = _mm_madd_epi16(hi, hi);
        s2[c] = _mm_add_epi32(
            s2[c], _mm_add_epi32(_mm_unpacklo_epi64(ql, qr), _mm_unpackhi_epi64(ql, qr)));
    }
    alignas(16) std::int64_t sums[4][2];
    alignas(16) std::int32_t squares[4][4];
    for (int c = 0; c < 4; ++c) {
        _mm_store_si128(reinterpret_cast<__m128i*>(sums[c]), s[c]);
        _mm_store_si128(reinterpret_cast<__m128i*>(squares[c]), s2[c]);
    }
    return leastVarianceOfKinds(sums, squares, fields);
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

// The plain inverse DCT's float arithmetic, four lanes at a time: each lane
// sees the same products summed in the same order, so the results are the
// same floats. (The plain loops start their sums from zero; adding a zero
// changes no sum but the sign of a zero one, which the rounding ignores.)
inline __m128 widen(__m128i v, bool high) {
    const __m128i w = high ? _mm_unpackhi_epi16(v, v) : _mm_unpacklo_epi16(v, v);
    return _mm_cvtepi32_ps(_mm_srai_epi32(w, 16));
}

// s >= 0 ? int(s + 0.5f) : -int(0.5f - s), lane by lane.
inline __m128i roundHalfAway(__m128 s) {
    const __m128i sign = _mm_srai_epi32(_mm_castps_si128(s), 31);
    const __m128 a = _mm_andnot_ps(_mm_castsi128_ps(_mm_set1_epi32(INT32_MIN)), s);
    const __m128i t = _mm_cvttps_epi32(_mm_add_ps(a, _mm_set1_ps(0.5f)));
    return _mm_sub_epi32(_mm_xor_si128(t, sign), sign);
}

void idctSse2(std::int16_t* block) {
    const DctTables& t = dctTables();
    __m128 in[8][2];
    for (int v = 0; v < 8; ++v) {
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * v));
        in[v][0] = widen(r, false);
        in[v][1] = widen(r, true);
    }
    // Columns: tmp[y] = row y of the intermediate, lanes u.
    alignas(16) float tmp[8][8];
    for (int y = 0; y < 4; ++y) {
        for (int h = 0; h < 2; ++h) {
            __m128 e = _mm_mul_ps(_mm_set1_ps(t.cf[0][y]), in[0][h]);
            __m128 o = _mm_mul_ps(_mm_set1_ps(t.cf[1][y]), in[1][h]);
            for (int v = 2; v < 8; v += 2) {
                e = _mm_add_ps(e, _mm_mul_ps(_mm_set1_ps(t.cf[v][y]), in[v][h]));
                o = _mm_add_ps(o, _mm_mul_ps(_mm_set1_ps(t.cf[v + 1][y]), in[v + 1][h]));
            }
            _mm_store_ps(&tmp[y][4 * h], _mm_add_ps(e, o));
            _mm_store_ps(&tmp[7 - y][4 * h], _mm_sub_ps(e, o));
        }
    }
    // Rows: lanes x = 0..3; outputs x and 7 - x from the two half sums.
    __m128 c[8];
    for (int u = 0; u < 8; ++u) c[u] = _mm_setr_ps(t.cf[u][0], t.cf[u][1], t.cf[u][2], t.cf[u][3]);
    const __m128i lo = _mm_set1_epi16(-256), hi = _mm_set1_epi16(255);
    for (int y = 0; y < 8; ++y) {
        const float* r = tmp[y];
        __m128 e = _mm_mul_ps(c[0], _mm_set1_ps(r[0]));
        __m128 o = _mm_mul_ps(c[1], _mm_set1_ps(r[1]));
        for (int u = 2; u < 8; u += 2) {
            e = _mm_add_ps(e, _mm_mul_ps(c[u], _mm_set1_ps(r[u])));
            o = _mm_add_ps(o, _mm_mul_ps(c[u + 1], _mm_set1_ps(r[u + 1])));
        }
        const __m128 s0 = _mm_add_ps(e, o);
        const __m128 s1 =
            _mm_shuffle_ps(_mm_sub_ps(e, o), _mm_sub_ps(e, o), _MM_SHUFFLE(0, 1, 2, 3));
        __m128i v = _mm_packs_epi32(roundHalfAway(s0), roundHalfAway(s1));
        v = _mm_min_epi16(_mm_max_epi16(v, lo), hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * y), v);
    }
}

void idct2Sse2(std::int16_t* a, std::int16_t* b) {
    idctSse2(a);
    idctSse2(b);
}

// Exact floor(n / d) for 0 <= n < 2^21 and 1 <= d < 2^15, lane by lane, with
// n, d as floats and r within 2^-22 (relative) of 1 / d: the float quotient is
// then less than one away from n / d, so its truncation is off by at most
// one, and one step each way mends it (y d < 2^24 is exact in a float).
inline __m128i divFloor(__m128i n, __m128 d, __m128 r) {
    const __m128 nf = _mm_cvtepi32_ps(n);
    __m128i y = _mm_cvttps_epi32(_mm_mul_ps(nf, r));
    const __m128 p = _mm_mul_ps(_mm_cvtepi32_ps(y), d);
    y = _mm_add_epi32(y, _mm_castps_si128(_mm_cmpgt_ps(p, nf)));
    return _mm_sub_epi32(y, _mm_castps_si128(_mm_cmple_ps(_mm_add_ps(p, d), nf)));
}

// Per matrix: the weights as floats (times `scale`), their reciprocals and
// the rounding terms w / 2. Kept per thread for the last matrix used, which
// changes seldom.
struct MatrixTerms {
    alignas(16) std::uint8_t w[64];
    bool made = false;
    alignas(16) float d[64];
    alignas(16) float rcp[64];
    alignas(16) std::int32_t half[64];
    alignas(16) std::int16_t w16[64];
    alignas(16) std::int16_t halfPlusOne[64];
    const MatrixTerms& get(const std::uint8_t* wm, int scale) {
        __m128i same = _mm_set1_epi8(-1);
        for (int i = 0; i < 64; i += 16)
            same = _mm_and_si128(same, _mm_cmpeq_epi8(load16(wm + i), load16(w + i)));
        if (made && _mm_movemask_epi8(same) == 0xFFFF) return *this;
        std::memcpy(w, wm, 64);
        for (int i = 0; i < 64; ++i) {
            d[i] = static_cast<float>(wm[i] * scale);
            rcp[i] = 1.0f / d[i];
            half[i] = wm[i] >> 1;
            w16[i] = wm[i];
            halfPlusOne[i] = static_cast<std::int16_t>((wm[i] >> 1) + 1);
        }
        made = true;
        return *this;
    }
};

// 32 |x| + w / 2 for four coefficients widened from x (low or high half).
inline __m128i scaledAbs(__m128i x, bool high, const std::int32_t* half) {
    __m128i v = _mm_srai_epi32(high ? _mm_unpackhi_epi16(x, x) : _mm_unpacklo_epi16(x, x), 16);
    const __m128i s = _mm_srai_epi32(v, 31);
    v = _mm_sub_epi32(_mm_xor_si128(v, s), s);
    return _mm_add_epi32(_mm_slli_epi32(v, 5),
                         _mm_load_si128(reinterpret_cast<const __m128i*>(half)));
}

// The levels of 8 coefficients x from their magnitudes (4 + 4 lanes),
// clipped (the saturating pack keeps everything above the clip above it) and
// given the sign of x.
inline __m128i signedLevels(__m128i x, __m128i y0, __m128i y1, __m128i clip) {
    const __m128i y = _mm_min_epi16(_mm_packs_epi32(y0, y1), clip);
    const __m128i sign = _mm_srai_epi16(x, 15);
    return _mm_sub_epi16(_mm_xor_si128(y, sign), sign);
}

// Whether every level of a non-intra block is zero: 32 |x| + w / 2 < 2 w q,
// that is |x| <= (2 w q - w / 2 - 1) / 32, in sixteen unsigned bits (2 w q
// fits for 1 <= q <= 128; -32768 stays itself, read as 32768, above every bound).
inline bool nonIntraLevelsZero(const std::int16_t* in, const MatrixTerms& m, int q) {
    const __m128i twoQ = _mm_set1_epi16(static_cast<short>(2 * q));
    __m128i over = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(m.w16 + i));
        const __m128i h = _mm_load_si128(reinterpret_cast<const __m128i*>(m.halfPlusOne + i));
        const __m128i bound = _mm_srli_epi16(_mm_sub_epi16(_mm_mullo_epi16(w, twoQ), h), 5);
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i ax = _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
        over = _mm_or_si128(over, _mm_subs_epu16(ax, bound));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi16(over, _mm_setzero_si128())) == 0xFFFF;
}

// floor((32 |x| + w / 2) / (2 w q)), as the plain kernel; the divisor's
// reciprocal is that of 2 w times that of q (within 2^-22 of 1 / (2 w q)).
// Most blocks of a prediction's residual quantise to nothing: they are told
// by a cheaper test.
int quantNonIntraSse2(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                      int clip) {
    thread_local MatrixTerms terms;
    const MatrixTerms& m = terms.get(w, 2);
    if (static_cast<unsigned>(q - 1) < 128 && nonIntraLevelsZero(in, m, q)) {
        std::memset(out, 0, 64 * sizeof(std::int16_t));
        return 0;
    }
    const __m128 qf = _mm_set1_ps(static_cast<float>(q));
    const __m128 rq = _mm_set1_ps(1.0f / static_cast<float>(q));
    const __m128i clipv = _mm_set1_epi16(static_cast<std::int16_t>(clip));
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128 d0 = _mm_load_ps(m.d + i), d1 = _mm_load_ps(m.d + i + 4);
        const __m128 r0 = _mm_load_ps(m.rcp + i), r1 = _mm_load_ps(m.rcp + i + 4);
        const __m128i y0 =
            divFloor(scaledAbs(x, false, m.half + i), _mm_mul_ps(d0, qf), _mm_mul_ps(r0, rq));
        const __m128i y1 =
            divFloor(scaledAbs(x, true, m.half + i + 4), _mm_mul_ps(d1, qf), _mm_mul_ps(r1, rq));
        const __m128i l = signedLevels(x, y0, y1, clipv);
        any = _mm_or_si128(any, l);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), l);
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF;
}

// floor((floor((32 |x| + w / 2) / w) + round) / (2 q)) for coefficients 1-63,
// as the plain kernel.
int quantIntraAcSse2(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                     int clip) {
    thread_local MatrixTerms terms;
    const MatrixTerms& m = terms.get(w, 1);
    const __m128i clipv = _mm_set1_epi16(static_cast<std::int16_t>(clip));
    const __m128i round = _mm_set1_epi32((3 * q + 2) / 4);
    const __m128 d2 = _mm_set1_ps(static_cast<float>(2 * q));
    const __m128 r2 = _mm_set1_ps(1.0f / static_cast<float>(2 * q));
    // Coefficient 0 (DC) is not this kernel's: it is left as it is.
    const std::int16_t dc = out[0];
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i t0 =
            divFloor(scaledAbs(x, false, m.half + i), _mm_load_ps(m.d + i), _mm_load_ps(m.rcp + i));
        const __m128i t1 = divFloor(scaledAbs(x, true, m.half + i + 4), _mm_load_ps(m.d + i + 4),
                                    _mm_load_ps(m.rcp + i + 4));
        const __m128i y0 = divFloor(_mm_add_epi32(t0, round), d2, r2);
        const __m128i y1 = divFloor(_mm_add_epi32(t1, round), d2, r2);
        __m128i l = signedLevels(x, y0, y1, clipv);
        if (i == 0) l = _mm_and_si128(l, _mm_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1));
        any = _mm_or_si128(any, l);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), l);
    }
    out[0] = dc;
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF;
}

void halfPelRowSse2(const std::uint8_t* a, const std::uint8_t* b, int w, std::uint8_t* oh,
                    std::uint8_t* ov, std::uint8_t* od) {
    int x = 0;
    // Sixteen at a time while x + 16 is still inside the row.
    for (; x + 16 < w; x += 16) {
        const __m128i a0 = load16(a + x), a1 = load16(a + x + 1);
        const __m128i b0 = load16(b + x), b1 = load16(b + x + 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(oh + x), _mm_avg_epu8(a0, a1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ov + x), _mm_avg_epu8(a0, b0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(od + x), avg4(a0, a1, b0, b1));
    }
    for (; x < w; ++x) {
        const int x1 = x + 1 < w ? x + 1 : x;
        oh[x] = static_cast<std::uint8_t>((a[x] + a[x1] + 1) >> 1);
        ov[x] = static_cast<std::uint8_t>((a[x] + b[x] + 1) >> 1);
        od[x] = static_cast<std::uint8_t>((a[x] + a[x1] + b[x] + b[x1] + 2) >> 2);
    }
}

void averageSse2(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n) {
    for (int i = 0; i < n; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_avg_epu8(load16(a + i), load16(b + i)));
}

inline __m128i load8(const std::uint8_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

int blockInSse2(const std::uint8_t* src, int stride, const std::uint8_t* pred, int predStride,
                std::int16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    __m128i any = zero;
    for (int j = 0; j < 8; ++j) {
        __m128i v = _mm_unpacklo_epi8(load8(src + j * stride), zero);
        if (pred) v = _mm_sub_epi16(v, _mm_unpacklo_epi8(load8(pred + j * predStride), zero));
        any = _mm_or_si128(any, v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * j), v);
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, zero)) != 0xFFFF;
}

void blockOutSse2(const std::int16_t* blk, const std::uint8_t* pred, int predStride,
                  std::uint8_t* out, int stride) {
    const __m128i zero = _mm_setzero_si128();
    for (int j = 0; j < 8; ++j) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blk + 8 * j));
        // Saturating: the sum's clip to 0..255 is the same either way.
        if (pred) v = _mm_adds_epi16(v, _mm_unpacklo_epi8(load8(pred + j * predStride), zero));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j * stride), _mm_packus_epi16(v, v));
    }
}

void predict8Sse2(const std::uint8_t* ref, int stride, int hx, int hy, std::uint8_t* out,
                  int outStride) {
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t* r0 = ref + j * stride;
        __m128i v;
        if (hx && hy)
            v = avg4(load8(r0), load8(r0 + 1), load8(r0 + stride), load8(r0 + stride + 1));
        else if (hx || hy)
            v = _mm_avg_epu8(load8(r0), load8(r0 + hx + hy * stride));
        else
            v = load8(r0);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j * outStride), v);
    }
}

std::uint64_t nonZeroMaskSse2(const std::int16_t* block) {
    const __m128i zero = _mm_setzero_si128();
    std::uint64_t m = 0;
    for (int i = 0; i < 64; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i + 8));
        const __m128i z = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        m |= static_cast<std::uint64_t>(~_mm_movemask_epi8(z) & 0xFFFF) << i;
    }
    return m;
}

void fdctIntBlocksSse2(const std::int16_t* in, std::int16_t* out, int n) {
    for (int b = 0; b < n; ++b) fdctIntSse2(in + 64 * b, out + 64 * b);
}

}  // namespace

void installSse2Kernels(EncoderKernels& k) {
    k.nonZeroMask = nonZeroMaskSse2;
    k.predict8 = predict8Sse2;
    k.halfPelRow = halfPelRowSse2;
    k.average = averageSse2;
    k.blockIn = blockInSse2;
    k.blockOut = blockOutSse2;
    k.idct = idctSse2;
    k.idct2 = idct2Sse2;
    k.quantNonIntra = quantNonIntraSse2;
    k.quantIntraAc = quantIntraAcSse2;
    k.fdctInt = fdctIntSse2;
    k.fdctIntBlocks = fdctIntBlocksSse2;
    k.leastVariance8 = leastVariance8Sse2;
    k.sad16 = sad16Sse2;
    k.sad16Packed = sad16PackedSse2;
    k.sad16Half = sad16HalfSse2;
    k.ssd16 = ssd16Sse2;
    k.variance16 = variance16Sse2;
    k.sum8 = sum8Sse2;
    k.quarterSums = quarterSumsSse2;
    k.quarterBounds = quarterBoundsSse2;
    k.blockSumsRow = blockSumsRowSse2;
}

}  // namespace zembra
