// The portable kernel bodies compiled for AVX2 with the loop vectoriser on
// (see CMakeLists.txt); integer and float results equal the plain build.
#include <immintrin.h>

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

// Rows p and p + stride (16 bytes each) in one register.
inline __m256i twoRows(const std::uint8_t* p, int stride) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// The four 64-bit SAD partial sums of a register added up.
inline int total(__m256i v) {
    const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return _mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
}

// Two rows per instruction; the early exit looks once, half-way (a look
// costs about as much as two rows, and a look more, after four rows, was
// slower: its branch is a poor guess), and any value above the limit may
// come back.
int sad16Avx2(const std::uint8_t* a, const std::uint8_t* b, int stride, int limit) {
    __m256i acc = _mm256_setzero_si256();
    auto rows = [stride](const std::uint8_t* p) { return twoRows(p, stride); };
    for (int y = 0; y < 16; y += 8) {
        for (int k = 0; k < 4; ++k) {
            acc = _mm256_add_epi64(acc, _mm256_sad_epu8(rows(a), rows(b)));
            a += 2 * stride;
            b += 2 * stride;
        }
        if (y == 0) {
            const int sum = total(acc);
            if (sum > limit) return sum;
        }
    }
    return total(acc);
}

// The packed block gives two rows per aligned load. One look at the limit,
// half-way, as sad16Avx2.
int sad16PackedAvx2(const std::uint8_t* blk, const std::uint8_t* ref, int stride, int limit) {
    auto rows = [stride](const std::uint8_t* p) { return twoRows(p, stride); };
    const __m256i* b = reinterpret_cast<const __m256i*>(blk);
    auto two = [&](__m256i acc, int k) {
        return _mm256_add_epi64(
            acc, _mm256_sad_epu8(_mm256_load_si256(b + k), rows(ref + 2 * k * stride)));
    };
    __m256i acc = _mm256_sad_epu8(_mm256_load_si256(b), rows(ref));
    for (int k = 1; k < 4; ++k) acc = two(acc, k);
    const int sum = total(acc);
    if (sum > limit) return sum;
    for (int k = 4; k < 8; ++k) acc = two(acc, k);
    return total(acc);
}

// The samples of one reference row at columns -1, 0 and +1, and the 16-bit
// sums of the left and right pairs, for the diagonal averages.
struct HalfPelRow {
    __m128i a, b, c;
    __m256i ab, bc;
    explicit HalfPelRow(const std::uint8_t* p) {
        a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
        b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m256i wb = _mm256_cvtepu8_epi16(b);
        ab = _mm256_add_epi16(_mm256_cvtepu8_epi16(a), wb);
        bc = _mm256_add_epi16(wb, _mm256_cvtepu8_epi16(c));
    }
};

inline __m256i both(__m128i v) { return _mm256_broadcastsi128_si256(v); }
inline __m256i pair(__m128i lo, __m128i hi) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// The reference rows -1..16 are read once each, and every interpolated row
// serves the candidates above and below that use it: each register holds
// two candidates' rows, the left and right diagonals, the left and right
// horizontal averages, or the vertical average against two block rows.
void halfPelSadsAvx2(const std::uint8_t* blk, const std::uint8_t* ref, int stride, int* sads) {
    auto blkRow = [blk](int y) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(blk + 16 * y));
    };
    // [left | right] diagonal averages of rows r and r + 1.
    auto diagonals = [](const HalfPelRow& r0, const HalfPelRow& r1) {
        const __m256i two = _mm256_set1_epi16(2);
        const __m256i l = _mm256_add_epi16(_mm256_add_epi16(r0.ab, r1.ab), two);
        const __m256i r = _mm256_add_epi16(_mm256_add_epi16(r0.bc, r1.bc), two);
        return _mm256_permute4x64_epi64(
            _mm256_packus_epi16(_mm256_srli_epi16(l, 2), _mm256_srli_epi16(r, 2)), 0xD8);
    };
    __m256i above = _mm256_setzero_si256();   // (-1,-1) | (+1,-1)
    __m256i below = _mm256_setzero_si256();   // (-1,+1) | (+1,+1)
    __m256i level = _mm256_setzero_si256();   // (-1, 0) | (+1, 0)
    __m256i middle = _mm256_setzero_si256();  // ( 0,+1) | ( 0,-1)
    HalfPelRow prev(ref - stride);
    for (int r = 0; r <= 16; ++r) {
        const HalfPelRow cur(ref + r * stride);
        // Row r - 1's interpolations between it and row r: the diagonals and
        // the vertical average, for block row r (candidates above) and r - 1
        // (below).
        const __m256i d = diagonals(prev, cur);
        const __m128i v = _mm_avg_epu8(prev.b, cur.b);
        if (r < 16) above = _mm256_add_epi64(above, _mm256_sad_epu8(d, both(blkRow(r))));
        if (r > 0) below = _mm256_add_epi64(below, _mm256_sad_epu8(d, both(blkRow(r - 1))));
        const __m128i lo = r > 0 ? blkRow(r - 1) : v;
        const __m128i hi = r < 16 ? blkRow(r) : v;
        middle = _mm256_add_epi64(middle, _mm256_sad_epu8(both(v), pair(lo, hi)));
        if (r < 16) {
            const __m256i h = _mm256_avg_epu8(pair(cur.a, cur.b), pair(cur.b, cur.c));
            level = _mm256_add_epi64(level, _mm256_sad_epu8(h, both(blkRow(r))));
        }
        prev = cur;
    }
    auto half = [](__m256i v, int lane) {
        const __m128i s = lane ? _mm256_extracti128_si256(v, 1) : _mm256_castsi256_si128(v);
        return _mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
    };
    sads[0] = half(above, 0);
    sads[1] = half(middle, 1);
    sads[2] = half(above, 1);
    sads[3] = half(level, 0);
    sads[4] = half(level, 1);
    sads[5] = half(below, 0);
    sads[6] = half(middle, 0);
    sads[7] = half(below, 1);
}

// The rounded average of four samples from two rounded averages of two,
// exact: avg(p, q) rounds up once too often where a pair's sum and the sum
// of the two averages are both odd, and that is the bit taken off.
template <typename V, V (*Avg)(V, V), V (*Xor)(V, V), V (*Or)(V, V), V (*And)(V, V),
          V (*Sub)(V, V)>
inline V average4(V a0, V a1, V b0, V b1, V p, V q, V one) {
    const V odd = And(And(Or(Xor(a0, a1), Xor(b0, b1)), Xor(p, q)), one);
    return Sub(Avg(p, q), odd);
}

// Thirty-two samples a step while x + 32 is inside the row, then sixteen.
void halfPelRowAvx2(const std::uint8_t* a, const std::uint8_t* b, int w, std::uint8_t* oh,
                    std::uint8_t* ov, std::uint8_t* od) {
    auto load = [](const std::uint8_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    };
    auto store = [](std::uint8_t* p, __m256i v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    };
    int x = 0;
    const __m256i one = _mm256_set1_epi8(1);
    for (; x + 32 < w; x += 32) {
        const __m256i a0 = load(a + x), a1 = load(a + x + 1);
        const __m256i b0 = load(b + x), b1 = load(b + x + 1);
        const __m256i p = _mm256_avg_epu8(a0, a1), q = _mm256_avg_epu8(b0, b1);
        store(oh + x, p);
        store(ov + x, _mm256_avg_epu8(a0, b0));
        store(od + x, average4<__m256i, _mm256_avg_epu8, _mm256_xor_si256, _mm256_or_si256,
                               _mm256_and_si256, _mm256_sub_epi8>(a0, a1, b0, b1, p, q, one));
    }
    auto load16 = [](const std::uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    auto store16 = [](std::uint8_t* p, __m128i v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    };
    for (; x + 16 < w; x += 16) {
        const __m128i a0 = load16(a + x), a1 = load16(a + x + 1);
        const __m128i b0 = load16(b + x), b1 = load16(b + x + 1);
        const __m128i p = _mm_avg_epu8(a0, a1), q = _mm_avg_epu8(b0, b1);
        store16(oh + x, p);
        store16(ov + x, _mm_avg_epu8(a0, b0));
        store16(od + x, average4<__m128i, _mm_avg_epu8, _mm_xor_si128, _mm_or_si128, _mm_and_si128,
                                 _mm_sub_epi8>(a0, a1, b0, b1, p, q, _mm256_castsi256_si128(one)));
    }
    for (; x < w; ++x) {
        const int x1 = x + 1 < w ? x + 1 : x;
        oh[x] = static_cast<std::uint8_t>((a[x] + a[x1] + 1) >> 1);
        ov[x] = static_cast<std::uint8_t>((a[x] + b[x] + 1) >> 1);
        od[x] = static_cast<std::uint8_t>((a[x] + a[x1] + b[x] + b[x1] + 2) >> 2);
    }
}

// idctSse2 on two blocks at once, block a in the low half of each register
// and b in the high: every lane does the SSE2 lane's float operations in
// the same order, so the results are the plain inverse DCT's.
void idct2Avx2(std::int16_t* a, std::int16_t* b) {
    const DctTables& t = dctTables();
    auto widen = [](__m256i v, bool high) {
        const __m256i w = high ? _mm256_unpackhi_epi16(v, v) : _mm256_unpacklo_epi16(v, v);
        return _mm256_cvtepi32_ps(_mm256_srai_epi32(w, 16));
    };
    __m256 in[8][2];
    for (int v = 0; v < 8; ++v) {
        const __m256i r = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * v))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * v)), 1);
        in[v][0] = widen(r, false);
        in[v][1] = widen(r, true);
    }
    // Columns: tmp[y][h] = row y of the intermediates, lanes u = 4 h .. 4 h + 3
    // of a, then of b.
    alignas(32) float tmp[8][2][8];
    for (int y = 0; y < 4; ++y) {
        for (int h = 0; h < 2; ++h) {
            __m256 e = _mm256_mul_ps(_mm256_set1_ps(t.cf[0][y]), in[0][h]);
            __m256 o = _mm256_mul_ps(_mm256_set1_ps(t.cf[1][y]), in[1][h]);
            for (int v = 2; v < 8; v += 2) {
                e = _mm256_add_ps(e, _mm256_mul_ps(_mm256_set1_ps(t.cf[v][y]), in[v][h]));
                o = _mm256_add_ps(o, _mm256_mul_ps(_mm256_set1_ps(t.cf[v + 1][y]), in[v + 1][h]));
            }
            _mm256_store_ps(tmp[y][h], _mm256_add_ps(e, o));
            _mm256_store_ps(tmp[7 - y][h], _mm256_sub_ps(e, o));
        }
    }
    // Rows: lanes x = 0..3 of a, then of b; outputs x and 7 - x from the two
    // half sums. Coefficient u of a row is broadcast within each half.
    __m256 c[8];
    for (int u = 0; u < 8; ++u)
        c[u] = _mm256_setr_ps(t.cf[u][0], t.cf[u][1], t.cf[u][2], t.cf[u][3], t.cf[u][0],
                              t.cf[u][1], t.cf[u][2], t.cf[u][3]);
    auto roundHalfAway = [](__m256 s) {
        const __m256i sign = _mm256_srai_epi32(_mm256_castps_si256(s), 31);
        const __m256 m = _mm256_andnot_ps(_mm256_castsi256_ps(_mm256_set1_epi32(INT32_MIN)), s);
        const __m256i i = _mm256_cvttps_epi32(_mm256_add_ps(m, _mm256_set1_ps(0.5f)));
        return _mm256_sub_epi32(_mm256_xor_si256(i, sign), sign);
    };
    const __m256i lo = _mm256_set1_epi16(-256), hi = _mm256_set1_epi16(255);
    for (int y = 0; y < 8; ++y) {
        const __m256 r0 = _mm256_load_ps(tmp[y][0]), r1 = _mm256_load_ps(tmp[y][1]);
        auto coef = [&](int u) {
            const __m256 r = u < 4 ? r0 : r1;
            switch (u & 3) {
                case 0: return _mm256_permute_ps(r, 0x00);
                case 1: return _mm256_permute_ps(r, 0x55);
                case 2: return _mm256_permute_ps(r, 0xAA);
                default: return _mm256_permute_ps(r, 0xFF);
            }
        };
        __m256 e = _mm256_mul_ps(c[0], coef(0));
        __m256 o = _mm256_mul_ps(c[1], coef(1));
        for (int u = 2; u < 8; u += 2) {
            e = _mm256_add_ps(e, _mm256_mul_ps(c[u], coef(u)));
            o = _mm256_add_ps(o, _mm256_mul_ps(c[u + 1], coef(u + 1)));
        }
        const __m256 s0 = _mm256_add_ps(e, o);
        const __m256 s1 = _mm256_permute_ps(_mm256_sub_ps(e, o), _MM_SHUFFLE(0, 1, 2, 3));
        __m256i v = _mm256_packs_epi32(roundHalfAway(s0), roundHalfAway(s1));
        v = _mm256_min_epi16(_mm256_max_epi16(v, lo), hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(a + 8 * y), _mm256_castsi256_si128(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * y), _mm256_extracti128_si256(v, 1));
    }
}

// Sixteen columns and sixteen sums a step, as blockSumsRowSse2 does eight.
void blockSumsRowAvx2(std::uint16_t* col, const std::uint8_t* add, const std::uint8_t* sub, int w,
                      std::uint16_t* out) {
    auto at = [col](int x) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(col + x));
    };
    auto bytes = [](const std::uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    };
    int x = 0;
    if (add) {
        for (; x + 16 <= w; x += 16)
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(col + x),
                _mm256_sub_epi16(_mm256_add_epi16(at(x), bytes(add + x)), bytes(sub + x)));
        for (; x < w; ++x) col[x] = static_cast<std::uint16_t>(col[x] + add[x] - sub[x]);
    }
    const int n = w - 7;  // outputs
    x = 0;
    for (; x + 16 <= n; x += 16) {
        __m256i s = at(x);
        for (int i = 1; i < 8; ++i) s = _mm256_add_epi16(s, at(x + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), s);
    }
    for (; x < n; ++x) {
        std::uint16_t t = 0;
        for (int i = 0; i < 8; ++i) t = static_cast<std::uint16_t>(t + col[x + i]);
        out[x] = t;
    }
}

// Sixteen positions a step, as quarterBoundsSse2.
std::uint64_t quarterBoundsAvx2(const std::uint16_t* sums, int stride, const int* quarters, int n,
                                int limit, std::uint16_t* out) {
    const std::uint16_t* at[4] = {sums, sums + 8, sums + 8 * stride, sums + 8 * stride + 8};
    __m256i q[4];
    for (int i = 0; i < 4; ++i) q[i] = _mm256_set1_epi16(static_cast<short>(quarters[i]));
    const __m256i lim = _mm256_set1_epi16(static_cast<short>(std::clamp(limit, -1, 65535)));
    const __m256i zero = _mm256_setzero_si256();
    std::uint64_t within = 0;
    for (int i = 0; i < n; i += 16) {
        __m256i bound = _mm256_setzero_si256();
        for (int j = 0; j < 4; ++j) {
            const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at[j] + i));
            const __m256i d =
                _mm256_or_si256(_mm256_subs_epu16(s, q[j]), _mm256_subs_epu16(q[j], s));
            bound = _mm256_add_epi16(bound, d);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), bound);
        // Bytes 0-7 and 16-23 of the pack hold the two halves' flags.
        const __m256i below = _mm256_cmpeq_epi16(_mm256_subs_epu16(bound, lim), zero);
        const auto bytes =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(below, zero)));
        within |= static_cast<std::uint64_t>((bytes & 0xFF) | ((bytes >> 8) & 0xFF00)) << i;
    }
    return limit < 0 ? 0 : n < 64 ? within & ((std::uint64_t{1} << n) - 1) : within;
}

// The SSE2 quantisers' method (see kernels_sse2.cpp), eight lanes at a
// time: exact floor(n / d) for 0 <= n < 2^21, 1 <= d < 2^15 from a float
// estimate within one, mended one step each way.
inline __m256i divFloor8(__m256i n, __m256 d, __m256 r) {
    const __m256 nf = _mm256_cvtepi32_ps(n);
    __m256i y = _mm256_cvttps_epi32(_mm256_mul_ps(nf, r));
    const __m256 p = _mm256_mul_ps(_mm256_cvtepi32_ps(y), d);
    y = _mm256_add_epi32(y, _mm256_castps_si256(_mm256_cmp_ps(p, nf, _CMP_GT_OQ)));
    return _mm256_sub_epi32(
        y, _mm256_castps_si256(_mm256_cmp_ps(_mm256_add_ps(p, d), nf, _CMP_LE_OQ)));
}

// Per matrix: `scale` w as floats, their reciprocals and w / 2, kept per
// thread for the last matrix used.
template <int scale>
struct MatrixTerms {
    alignas(32) std::uint8_t w[64];
    bool made = false;
    alignas(32) float d[64];
    alignas(32) float rcp[64];
    alignas(32) std::int32_t half[64];
    alignas(32) std::int16_t w16[64];
    alignas(32) std::int16_t halfPlusOne[64];
    const MatrixTerms& get(const std::uint8_t* wm) {
        const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wm));
        const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wm + 32));
        const __m256i same = _mm256_and_si256(
            _mm256_cmpeq_epi8(a0, _mm256_load_si256(reinterpret_cast<const __m256i*>(w))),
            _mm256_cmpeq_epi8(a1, _mm256_load_si256(reinterpret_cast<const __m256i*>(w + 32))));
        if (made && _mm256_movemask_epi8(same) == -1) return *this;
        std::memcpy(w, wm, 64);
        for (int i = 0; i < 64; ++i) {
            d[i] = static_cast<float>(scale * wm[i]);
            rcp[i] = 1.0f / d[i];
            half[i] = wm[i] >> 1;
            w16[i] = wm[i];
            halfPlusOne[i] = static_cast<std::int16_t>((wm[i] >> 1) + 1);
        }
        made = true;
        return *this;
    }
};

// 32 |x| + w / 2 for the eight coefficients of half h (0 low, 1 high) of
// sixteen absolute values.
inline __m256i scaledAbs8(__m256i ax, int h, const std::int32_t* half) {
    const __m256i a32 =
        _mm256_cvtepu16_epi32(h ? _mm256_extracti128_si256(ax, 1) : _mm256_castsi256_si128(ax));
    return _mm256_add_epi32(_mm256_slli_epi32(a32, 5),
                            _mm256_load_si256(reinterpret_cast<const __m256i*>(half)));
}

// Whether every level of a non-intra block is zero: 32 |x| + w / 2 < 2 w q,
// that is |x| <= (2 w q - w / 2 - 1) / 32, in sixteen unsigned bits (2 w q
// fits for 1 <= q <= 128; -32768 reads as 32768, above every bound).
inline bool nonIntraLevelsZero(const std::int16_t* in, const MatrixTerms<2>& m, int q) {
    const __m256i twoQ = _mm256_set1_epi16(static_cast<short>(2 * q));
    __m256i over = _mm256_setzero_si256();
    for (int i = 0; i < 64; i += 16) {
        const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(m.w16 + i));
        const __m256i h = _mm256_load_si256(reinterpret_cast<const __m256i*>(m.halfPlusOne + i));
        const __m256i bound =
            _mm256_srli_epi16(_mm256_sub_epi16(_mm256_mullo_epi16(w, twoQ), h), 5);
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        over = _mm256_or_si256(over, _mm256_subs_epu16(_mm256_abs_epi16(x), bound));
    }
    return _mm256_testz_si256(over, over);
}

// floor((32 |x| + w / 2) / (2 w q)) as the plain kernel, the reciprocal that
// of 2 w times that of q (within 2^-22 of 1 / (2 w q)). Most blocks of a
// prediction's residual quantise to nothing: they are told by a cheaper test.
int quantNonIntraAvx2(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                      int clip) {
    thread_local MatrixTerms<2> terms;
    const MatrixTerms<2>& m = terms.get(w);
    if (static_cast<unsigned>(q - 1) < 128 && nonIntraLevelsZero(in, m, q)) {
        std::memset(out, 0, 64 * sizeof(std::int16_t));
        return 0;
    }
    const __m256 qf = _mm256_set1_ps(static_cast<float>(q));
    const __m256 rq = _mm256_set1_ps(1.0f / static_cast<float>(q));
    const __m256i clipv = _mm256_set1_epi16(static_cast<std::int16_t>(clip));
    __m256i any = _mm256_setzero_si256();
    for (int i = 0; i < 64; i += 16) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i ax = _mm256_abs_epi16(x);  // -32768 stays 0x8000: read unsigned below
        __m256i y[2];
        for (int h = 0; h < 2; ++h) {
            const int j = i + 8 * h;
            const __m256i n = scaledAbs8(ax, h, m.half + j);
            y[h] = divFloor8(n, _mm256_mul_ps(_mm256_load_ps(m.d + j), qf),
                             _mm256_mul_ps(_mm256_load_ps(m.rcp + j), rq));
        }
        // packs works within 128-bit lanes: put the eight-lane halves back
        // in order.
        __m256i l = _mm256_permute4x64_epi64(_mm256_packs_epi32(y[0], y[1]), 0xD8);
        l = _mm256_sign_epi16(_mm256_min_epi16(l, clipv), x);
        any = _mm256_or_si256(any, l);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), l);
    }
    return !_mm256_testz_si256(any, any);
}

// The plain inverse quantiser's integer arithmetic, eight lanes at a time:
// the same 32-bit products, divisions truncated toward zero, the same
// clipping and mismatch control.
void dequantAvx2(const std::int16_t* q, std::int16_t* out, const std::uint8_t* w, int qs,
                 bool intra, bool mpeg2, int dcScale) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi32(1);
    // Scale: qs (/ 32) for MPEG-2, qs / 2 (/ 16) for MPEG-1.
    const __m256i scale = _mm256_set1_epi32(mpeg2 ? qs : qs / 2);
    const int shift = mpeg2 ? 5 : 4;
    const __m256i bias = _mm256_set1_epi32((1 << shift) - 1);
    const __m256i lo = _mm256_set1_epi32(-2048), hi = _mm256_set1_epi32(2047);
    __m256i sum = zero;
    for (int i = 0; i < 64; i += 8) {
        const __m256i lv =
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i)));
        const __m256i wv =
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + i)));
        __m256i a = _mm256_add_epi32(lv, lv);
        if (!intra) a = _mm256_add_epi32(a, _mm256_sign_epi32(one, lv));  // 2 lv + sign
        __m256i v = _mm256_mullo_epi32(_mm256_mullo_epi32(a, wv), scale);
        // Toward zero: negative values get 2^shift - 1 added before the shift.
        v = _mm256_srai_epi32(_mm256_add_epi32(v, _mm256_and_si256(_mm256_srai_epi32(v, 31), bias)),
                              shift);
        if (!mpeg2) {
            // Even values step one toward zero (zero itself goes to 1).
            const __m256i even = _mm256_cmpeq_epi32(_mm256_and_si256(v, one), zero);
            const __m256i step =
                _mm256_blendv_epi8(_mm256_set1_epi32(-1), one, _mm256_cmpgt_epi32(v, zero));
            v = _mm256_sub_epi32(v, _mm256_and_si256(even, step));
        }
        // Level zero gives zero.
        v = _mm256_andnot_si256(_mm256_cmpeq_epi32(lv, zero), v);
        if (intra && i == 0) {
            const std::int32_t dc = static_cast<std::int32_t>(q[0]) * dcScale;
            v = _mm256_blend_epi32(v, _mm256_set1_epi32(dc), 1);
        }
        v = _mm256_min_epi32(_mm256_max_epi32(v, lo), hi);
        sum = _mm256_add_epi32(sum, v);
        const __m128i packed =
            _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    s = _mm_add_epi32(s, _mm_srli_si128(s, 8));
    s = _mm_add_epi32(s, _mm_srli_si128(s, 4));
    if (mpeg2 && (_mm_cvtsi128_si32(s) & 1) == 0) out[63] ^= 1;
}

// Pairs (v[k], v[k + 1]) of the eight lanes, interleaved for madd: lanes 0-3
// in the low half, 4-7 in the high half.
inline __m256i pairs(__m128i a, __m128i b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                   _mm_unpackhi_epi16(a, b), 1);
}

inline __m256i coefPair(std::int32_t c0, std::int32_t c1) {
    return _mm256_set1_epi32(
        static_cast<int>(static_cast<std::uint16_t>(c0) |
                         static_cast<std::uint32_t>(static_cast<std::uint16_t>(c1)) << 16));
}

// One pass of the plain integer forward DCT on eight lines (lanes): the
// even/odd halves, the four-term sums in 32 bits, rounding and shift, and the
// results packed back to 16 bits, out[u] for u = 0..7.
inline void fdctPass(const __m128i v[8], const std::int32_t (&ci)[8][8], int shift,
                     __m128i out[8]) {
    const __m256i round = _mm256_set1_epi32(1 << (shift - 1));
    __m128i e[4], o[4];
    for (int k = 0; k < 4; ++k) {
        e[k] = _mm_add_epi16(v[k], v[7 - k]);
        o[k] = _mm_sub_epi16(v[k], v[7 - k]);
    }
    const __m256i e01 = pairs(e[0], e[1]), e23 = pairs(e[2], e[3]);
    const __m256i o01 = pairs(o[0], o[1]), o23 = pairs(o[2], o[3]);
    for (int u = 0; u < 8; u += 2) {
        __m256i se = _mm256_add_epi32(_mm256_madd_epi16(e01, coefPair(ci[u][0], ci[u][1])),
                                      _mm256_madd_epi16(e23, coefPair(ci[u][2], ci[u][3])));
        __m256i so = _mm256_add_epi32(_mm256_madd_epi16(o01, coefPair(ci[u + 1][0], ci[u + 1][1])),
                                      _mm256_madd_epi16(o23, coefPair(ci[u + 1][2], ci[u + 1][3])));
        se = _mm256_srai_epi32(_mm256_add_epi32(se, round), shift);
        so = _mm256_srai_epi32(_mm256_add_epi32(so, round), shift);
        // packs works per 128-bit half: [u 0-3, u+1 0-3 | u 4-7, u+1 4-7].
        const __m256i p = _mm256_permute4x64_epi64(_mm256_packs_epi32(se, so), 0xD8);
        out[u] = _mm256_castsi256_si128(p);
        out[u + 1] = _mm256_extracti128_si256(p, 1);
    }
}

// The SSE2 integer forward DCT's arithmetic (and so the plain one's) with
// both halves of each sum in one register.
void fdctIntAvx2(const std::int16_t* in, std::int16_t* out) {
    const DctTables& t = dctTables();
    __m128i r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * i));
    transpose8(r);  // r[x]: sample x of every row
    __m128i c[8];
    fdctPass(r, t.ci, 10, c);  // c[u]: coefficient u of every row
    transpose8(c);             // c[y]: row y
    __m128i d[8];
    fdctPass(c, t.ci, 18, d);
    for (int v = 0; v < 8; ++v) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * v), d[v]);
}

// transpose8 on two blocks at once: the unpacks work within each 128-bit
// half, so the low half holds one block's rows and the high half the other's.
inline void transpose8x2(__m256i r[8]) {
    const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    r[0] = _mm256_unpacklo_epi64(b0, b4);
    r[1] = _mm256_unpackhi_epi64(b0, b4);
    r[2] = _mm256_unpacklo_epi64(b1, b5);
    r[3] = _mm256_unpackhi_epi64(b1, b5);
    r[4] = _mm256_unpacklo_epi64(b2, b6);
    r[5] = _mm256_unpackhi_epi64(b2, b6);
    r[6] = _mm256_unpacklo_epi64(b3, b7);
    r[7] = _mm256_unpackhi_epi64(b3, b7);
}

// fdctPass on two blocks (one per 128-bit half): the same 16-bit halves,
// 32-bit four-term sums, rounding, shift and saturating pack, lane for lane.
// The unpacks split each half's eight lines into lines 0-3 and 4-7, and the
// pack joins them again in order, so no lane crosses between the blocks.
inline void fdctPassX2(const __m256i v[8], const std::int32_t (&ci)[8][8], int shift,
                       __m256i out[8]) {
    const __m256i round = _mm256_set1_epi32(1 << (shift - 1));
    __m256i e[4], o[4];
    for (int k = 0; k < 4; ++k) {
        e[k] = _mm256_add_epi16(v[k], v[7 - k]);
        o[k] = _mm256_sub_epi16(v[k], v[7 - k]);
    }
    const __m256i e01[2] = {_mm256_unpacklo_epi16(e[0], e[1]), _mm256_unpackhi_epi16(e[0], e[1])};
    const __m256i e23[2] = {_mm256_unpacklo_epi16(e[2], e[3]), _mm256_unpackhi_epi16(e[2], e[3])};
    const __m256i o01[2] = {_mm256_unpacklo_epi16(o[0], o[1]), _mm256_unpackhi_epi16(o[0], o[1])};
    const __m256i o23[2] = {_mm256_unpacklo_epi16(o[2], o[3]), _mm256_unpackhi_epi16(o[2], o[3])};
    const auto sum = [&](const __m256i* x01, const __m256i* x23, const std::int32_t* c) {
        const __m256i c01 = coefPair(c[0], c[1]), c23 = coefPair(c[2], c[3]);
        __m256i s[2];
        for (int h = 0; h < 2; ++h) {
            s[h] = _mm256_add_epi32(_mm256_madd_epi16(x01[h], c01), _mm256_madd_epi16(x23[h], c23));
            s[h] = _mm256_srai_epi32(_mm256_add_epi32(s[h], round), shift);
        }
        return _mm256_packs_epi32(s[0], s[1]);
    };
    for (int u = 0; u < 8; u += 2) {
        out[u] = sum(e01, e23, ci[u]);
        out[u + 1] = sum(o01, o23, ci[u + 1]);
    }
}

// fdctIntAvx2 on two consecutive blocks at a time (a last odd one alone).
void fdctIntBlocksAvx2(const std::int16_t* in, std::int16_t* out, int n) {
    const DctTables& t = dctTables();
    for (; n >= 2; n -= 2, in += 128, out += 128) {
        __m256i r[8];
        for (int i = 0; i < 8; ++i)
            r[i] = _mm256_inserti128_si256(
                _mm256_castsi128_si256(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * i))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 64 + 8 * i)), 1);
        transpose8x2(r);
        __m256i c[8];
        fdctPassX2(r, t.ci, 10, c);
        transpose8x2(c);
        __m256i d[8];
        fdctPassX2(c, t.ci, 18, d);
        for (int v = 0; v < 8; ++v) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * v), _mm256_castsi256_si128(d[v]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 64 + 8 * v),
                             _mm256_extracti128_si256(d[v], 1));
        }
    }
    if (n == 1) fdctIntAvx2(in, out);
}

// floor((floor((32 |x| + w / 2) / w) + round) / (2 q)) for coefficients 1-63,
// as the plain kernel; coefficient 0 (DC) is left as it is.
int quantIntraAcAvx2(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                     int clip) {
    thread_local MatrixTerms<1> terms;
    const MatrixTerms<1>& m = terms.get(w);
    const __m256 d2 = _mm256_set1_ps(static_cast<float>(2 * q));
    const __m256 r2 = _mm256_set1_ps(1.0f / static_cast<float>(2 * q));
    const __m256i round = _mm256_set1_epi32((3 * q + 2) / 4);
    const __m256i clipv = _mm256_set1_epi16(static_cast<std::int16_t>(clip));
    const std::int16_t dc = out[0];
    __m256i any = _mm256_setzero_si256();
    for (int i = 0; i < 64; i += 16) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i ax = _mm256_abs_epi16(x);  // -32768 stays 0x8000: read unsigned below
        __m256i y[2];
        for (int h = 0; h < 2; ++h) {
            const int j = i + 8 * h;
            const __m256i n = scaledAbs8(ax, h, m.half + j);
            const __m256i t = divFloor8(n, _mm256_load_ps(m.d + j), _mm256_load_ps(m.rcp + j));
            y[h] = divFloor8(_mm256_add_epi32(t, round), d2, r2);
        }
        __m256i l = _mm256_permute4x64_epi64(_mm256_packs_epi32(y[0], y[1]), 0xD8);
        l = _mm256_sign_epi16(_mm256_min_epi16(l, clipv), x);
        if (i == 0)  // the DC's lane counts for nothing
            l = _mm256_and_si256(l, _mm256_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                      -1, -1, -1, -1));
        any = _mm256_or_si256(any, l);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), l);
    }
    out[0] = dc;
    return !_mm256_testz_si256(any, any);
}

// Two rows a step, as the SSE2 version takes one.
int ssd16Avx2(const std::uint8_t* a, int stride, const std::uint8_t* pred) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i acc = zero;
    for (int y = 0; y < 16; y += 2) {
        const __m256i s = twoRows(a + y * stride, stride);
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pred + 16 * y));
        const __m256i lo =
            _mm256_sub_epi16(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(p, zero));
        const __m256i hi =
            _mm256_sub_epi16(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(p, zero));
        acc = _mm256_add_epi32(acc, _mm256_madd_epi16(lo, lo));
        acc = _mm256_add_epi32(acc, _mm256_madd_epi16(hi, hi));
    }
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
    return _mm_cvtsi128_si32(s);
}

// Eight bytes of rows p and p + stride widened to sixteen words.
inline __m256i twoRows8(const std::uint8_t* p, int stride) {
    const __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i both = _mm_castpd_si128(
        _mm_loadh_pd(_mm_castsi128_pd(lo), reinterpret_cast<const double*>(p + stride)));
    return _mm256_cvtepu8_epi16(both);
}

// Two rows a step, and the test for a prediction made once, not per row:
// the transform's input is gathered for six blocks of every macroblock.
int blockInAvx2(const std::uint8_t* src, int stride, const std::uint8_t* pred, int predStride,
                std::int16_t* out) {
    __m256i any = _mm256_setzero_si256();
    auto put = [&](int j, __m256i v) {
        any = _mm256_or_si256(any, v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * j), v);
    };
    if (pred) {
        for (int j = 0; j < 8; j += 2)
            put(j, _mm256_sub_epi16(twoRows8(src + j * stride, stride),
                                    twoRows8(pred + j * predStride, predStride)));
    } else {
        for (int j = 0; j < 8; j += 2) put(j, twoRows8(src + j * stride, stride));
    }
    return !_mm256_testz_si256(any, any);
}

// Two rows a step, an even one and the odd one below it, so that the
// sums of each kind of row (as leastVariance8Sse2 keeps them) stay in
// registers: those of the top and the bottom half, a register each, its
// lanes the even and the odd rows.
int leastVariance8Avx2(const std::uint8_t* a, int stride, bool fields) {
    const __m256i zero = _mm256_setzero_si256();
    alignas(32) std::int64_t sums[4][2];
    alignas(32) std::int32_t squares[4][4];
    for (int half = 0; half < 2; ++half) {
        __m256i s = zero, s2 = zero;  // [left, right]; squares [l, l, r, r]
        for (int y = 8 * half; y < 8 * half + 8; y += 2) {
            const __m256i v = twoRows(a + y * stride, stride);
            s = _mm256_add_epi64(s, _mm256_sad_epu8(v, zero));
            const __m256i lo = _mm256_unpacklo_epi8(v, zero), hi = _mm256_unpackhi_epi8(v, zero);
            const __m256i ql = _mm256_madd_epi16(lo, lo), qr = _mm256_madd_epi16(hi, hi);
            s2 = _mm256_add_epi32(
                s2, _mm256_add_epi32(_mm256_unpacklo_epi64(ql, qr), _mm256_unpackhi_epi64(ql, qr)));
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(sums[2 * half]), s);
        _mm256_store_si256(reinterpret_cast<__m256i*>(squares[2 * half]), s2);
    }
    return leastVarianceOfKinds(sums, squares, fields);
}

// Two rows a step, as variance16Sse2 takes one.
int variance16Avx2(const std::uint8_t* a, int stride) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i s = zero, s2 = zero;
    for (int y = 0; y < 16; y += 2) {
        const __m256i v = twoRows(a + y * stride, stride);
        s = _mm256_add_epi64(s, _mm256_sad_epu8(v, zero));
        const __m256i lo = _mm256_unpacklo_epi8(v, zero), hi = _mm256_unpackhi_epi8(v, zero);
        s2 = _mm256_add_epi32(
            s2, _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi)));
    }
    const int sum = total(s);
    __m128i q = _mm_add_epi32(_mm256_castsi256_si128(s2), _mm256_extracti128_si256(s2, 1));
    q = _mm_add_epi32(q, _mm_shuffle_epi32(q, 0x4E));
    q = _mm_add_epi32(q, _mm_shuffle_epi32(q, 0xB1));
    return _mm_cvtsi128_si32(q) - static_cast<int>(static_cast<long long>(sum) * sum / 256);
}

// Two rows a step, as quarterSumsSse2 takes one.
void quarterSumsAvx2(const std::uint8_t* a, int stride, int* out) {
    const __m256i zero = _mm256_setzero_si256();
    for (int h = 0; h < 2; ++h) {
        __m256i s = zero;
        for (int y = 8 * h; y < 8 * h + 8; y += 2)
            s = _mm256_add_epi64(s, _mm256_sad_epu8(twoRows(a + y * stride, stride), zero));
        const __m128i t = _mm_add_epi64(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
        out[2 * h] = _mm_cvtsi128_si32(t);
        out[2 * h + 1] = _mm_cvtsi128_si32(_mm_srli_si128(t, 8));
    }
}

}  // namespace

void installAvx2Kernels(EncoderKernels& k) {
    k.quantIntraAc = quantIntraAcAvx2;
    k.fdctInt = fdctIntAvx2;
    k.fdctIntBlocks = fdctIntBlocksAvx2;
    k.dequant = dequantAvx2;
    k.quantNonIntra = quantNonIntraAvx2;
    k.sad16 = sad16Avx2;
    k.sad16Packed = sad16PackedAvx2;
    k.halfPelSads = halfPelSadsAvx2;
    k.blockSumsRow = blockSumsRowAvx2;
    k.halfPelRow = halfPelRowAvx2;
    k.idct2 = idct2Avx2;
    k.quarterBounds = quarterBoundsAvx2;
    k.ssd16 = ssd16Avx2;
    k.blockIn = blockInAvx2;
    k.leastVariance8 = leastVariance8Avx2;
    k.variance16 = variance16Avx2;
    k.quarterSums = quarterSumsAvx2;
    k.fdctFloat = fdctFloatBody;
    k.roundDeadZone = roundDeadZoneBody;
}

}  // namespace zembra
