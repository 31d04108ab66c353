#include "decoder/idct.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <immintrin.h>
#define ZEMBRA_X86 1
#endif

namespace zembra {

bool idctVariantFromSetting(int setting, IdctVariant& variant) {
    switch (setting) {
        case 0:
            variant = IdctVariant::Ap922;
            return true;
        case 1:
            variant = IdctVariant::Reference;
            return true;
        case 2:
            variant = IdctVariant::FastFloat;
            return true;
        case 4:
            variant = IdctVariant::Ap922Shuffle;
            return true;
        default:
            return false;
    }
}

namespace {

// Row tables {c4, c2, c6, c1, c3, c5, c7}, each scaled for its row class:
// rows 0/4 on 16384, 1/7 on 22725, 2/6 on 21407, 3/5 on 19266.
constexpr int16_t kRowTable[4][7] = {
    {16384, 21407, 8867, 22725, 19266, 12873, 4520},
    {22725, 29692, 12299, 31521, 26722, 17855, 6270},
    {21407, 27969, 11585, 29692, 25172, 16819, 5906},
    {19266, 25172, 10426, 26722, 22654, 15137, 5315},
};
constexpr int kRowClass[8] = {0, 1, 2, 3, 0, 3, 2, 1};
constexpr int32_t kRowRounder[8] = {65536, 3597, 2260, 1203, 0, 120, 512, 512};
constexpr int kRowShift = 11;
constexpr int kColShift = 6;
constexpr int16_t kTan1 = 13036;    // tan(pi/16) * 65536
constexpr int16_t kTan2 = 27146;    // tan(2pi/16) * 65536
constexpr int16_t kTan3m = -21746;  // (tan(3pi/16) - 1) * 65536
constexpr int16_t kCos4 = 23170;    // cos(pi/4) * 32768

inline int16_t sat16(int32_t v) { return int16_t(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }
inline int16_t adds(int16_t a, int16_t b) { return sat16(int32_t(a) + b); }
inline int16_t subs(int16_t a, int16_t b) { return sat16(int32_t(a) - b); }
inline int16_t mulhi(int16_t a, int16_t b) { return int16_t((int32_t(a) * b) >> 16); }

// 32-bit sums wrap as the packed multiply-add does.
inline uint32_t mul(int16_t a, int16_t b) { return uint32_t(int32_t(a) * int32_t(b)); }

void ap922Row(int16_t* x, int row) {
    const int16_t* t = kRowTable[kRowClass[row]];
    const int16_t c4 = t[0], c2 = t[1], c6 = t[2], c1 = t[3], c3 = t[4], c5 = t[5], c7 = t[6];
    const uint32_t rnd = uint32_t(kRowRounder[row]);
    const int16_t x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3];
    const int16_t x4 = x[4], x5 = x[5], x6 = x[6], x7 = x[7];
    const int16_t nc4 = int16_t(-c4), nc2 = int16_t(-c2), nc6 = int16_t(-c6);
    const int16_t nc1 = int16_t(-c1), nc5 = int16_t(-c5), nc7 = int16_t(-c7);
    uint32_t a[4], b[4];
    a[0] = mul(c4, x0) + mul(c2, x2) + mul(c4, x4) + mul(c6, x6) + rnd;
    a[1] = mul(c4, x0) + mul(c6, x2) + mul(nc4, x4) + mul(nc2, x6) + rnd;
    a[2] = mul(c4, x0) + mul(nc6, x2) + mul(nc4, x4) + mul(c2, x6) + rnd;
    a[3] = mul(c4, x0) + mul(nc2, x2) + mul(c4, x4) + mul(nc6, x6) + rnd;
    b[0] = mul(c1, x1) + mul(c3, x3) + mul(c5, x5) + mul(c7, x7);
    b[1] = mul(c3, x1) + mul(nc7, x3) + mul(nc1, x5) + mul(nc5, x7);
    b[2] = mul(c5, x1) + mul(nc1, x3) + mul(c7, x5) + mul(c3, x7);
    b[3] = mul(c7, x1) + mul(nc5, x3) + mul(c3, x5) + mul(nc1, x7);
    for (int n = 0; n < 4; ++n) {
        x[n] = sat16(int32_t(a[n] + b[n]) >> kRowShift);
        x[7 - n] = sat16(int32_t(a[n] - b[n]) >> kRowShift);
    }
}

// One column of eight values, out[k] for row k. Inlined by force, so that
// a column of known values folds to a few operations.
[[gnu::always_inline]] inline void ap922ColumnValues(const int16_t* x, int16_t* out) {
    const int16_t tp17 = adds(x[1], mulhi(x[7], kTan1));
    const int16_t tm17 = subs(mulhi(x[1], kTan1), x[7]);
    const int16_t tp35 = adds(x[3], adds(mulhi(x[5], kTan3m), x[5]));
    const int16_t tm35 = subs(adds(mulhi(x[3], kTan3m), x[3]), x[5]);
    const int16_t b0 = adds(tp17, tp35);
    const int16_t b3 = subs(tm17, tm35);
    const int16_t t1 = subs(tp17, tp35);
    const int16_t t2 = adds(tm17, tm35);
    int16_t b1 = mulhi(adds(t1, t2), kCos4);
    int16_t b2 = mulhi(subs(t1, t2), kCos4);
    b1 = adds(b1, b1);
    b2 = adds(b2, b2);
    const int16_t tp26 = adds(x[2], mulhi(x[6], kTan2));
    const int16_t tm26 = subs(mulhi(x[2], kTan2), x[6]);
    const int16_t tp04 = adds(x[0], x[4]);
    const int16_t tm04 = subs(x[0], x[4]);
    const int16_t a0 = adds(tp04, tp26);
    const int16_t a3 = subs(tp04, tp26);
    const int16_t a1 = adds(tm04, tm26);
    const int16_t a2 = subs(tm04, tm26);
    out[0] = int16_t(adds(a0, b0) >> kColShift);
    out[7] = int16_t(subs(a0, b0) >> kColShift);
    out[1] = int16_t(adds(a1, b1) >> kColShift);
    out[6] = int16_t(subs(a1, b1) >> kColShift);
    out[2] = int16_t(adds(a2, b2) >> kColShift);
    out[5] = int16_t(subs(a2, b2) >> kColShift);
    out[3] = int16_t(adds(a3, b3) >> kColShift);
    out[4] = int16_t(subs(a3, b3) >> kColShift);
}

void ap922Column(int16_t* blk, int c) {
    int16_t x[8], out[8];
    for (int k = 0; k < 8; ++k) x[k] = blk[k * 8 + c];
    ap922ColumnValues(x, out);
    for (int k = 0; k < 8; ++k) blk[k * 8 + c] = out[k];
}

#ifdef ZEMBRA_X86
// Per row class, four multiply-add tables: pairs (x0,x2), (x4,x6), (x1,x3),
// (x5,x7) against the four outputs a0..a3 / b0..b3.
struct alignas(16) SseRowTables {
    int16_t e[4][4][8];  // [class][pair group][lane]
};

SseRowTables makeSseTables() {
    SseRowTables s{};
    for (int k = 0; k < 4; ++k) {
        const int16_t* t = kRowTable[k];
        const int16_t c4 = t[0], c2 = t[1], c6 = t[2], c1 = t[3], c3 = t[4], c5 = t[5], c7 = t[6];
        const int16_t g0[8] = {c4, c2, c4, c6, c4, int16_t(-c6), c4, int16_t(-c2)};
        const int16_t g1[8] = {c4,           c6, int16_t(-c4), int16_t(-c2),
                               int16_t(-c4), c2, c4,           int16_t(-c6)};
        const int16_t g2[8] = {c1, c3, c3, int16_t(-c7), c5, int16_t(-c1), c7, int16_t(-c5)};
        const int16_t g3[8] = {c5, c7, int16_t(-c1), int16_t(-c5), c7, c3, c3, int16_t(-c1)};
        std::memcpy(s.e[k][0], g0, sizeof g0);
        std::memcpy(s.e[k][1], g1, sizeof g1);
        std::memcpy(s.e[k][2], g2, sizeof g2);
        std::memcpy(s.e[k][3], g3, sizeof g3);
    }
    return s;
}
const SseRowTables kSse = makeSseTables();

__attribute__((target("sse2"))) inline __m128i sseRow(__m128i x, int row) {
    const int k = kRowClass[row];
    // Words to x0 x2 x1 x3 | x4 x6 x5 x7, so each dword holds one pair.
    x = _mm_shufflelo_epi16(x, _MM_SHUFFLE(3, 1, 2, 0));
    x = _mm_shufflehi_epi16(x, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i p02 = _mm_shuffle_epi32(x, _MM_SHUFFLE(0, 0, 0, 0));
    const __m128i p13 = _mm_shuffle_epi32(x, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128i p46 = _mm_shuffle_epi32(x, _MM_SHUFFLE(2, 2, 2, 2));
    const __m128i p57 = _mm_shuffle_epi32(x, _MM_SHUFFLE(3, 3, 3, 3));
    const __m128i* t = reinterpret_cast<const __m128i*>(kSse.e[k]);
    __m128i a = _mm_add_epi32(_mm_madd_epi16(p02, _mm_load_si128(t + 0)),
                              _mm_madd_epi16(p46, _mm_load_si128(t + 1)));
    a = _mm_add_epi32(a, _mm_set1_epi32(kRowRounder[row]));
    const __m128i b = _mm_add_epi32(_mm_madd_epi16(p13, _mm_load_si128(t + 2)),
                                    _mm_madd_epi16(p57, _mm_load_si128(t + 3)));
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(a, b), kRowShift);  // y0..y3
    const __m128i hi = _mm_srai_epi32(_mm_sub_epi32(a, b), kRowShift);  // y7..y4
    __m128i y = _mm_packs_epi32(lo, hi);
    return _mm_shufflehi_epi16(y, _MM_SHUFFLE(0, 1, 2, 3));
}

// The column pass over the eight rows `x` the row pass left; the result
// goes to `p`.
__attribute__((target("sse2"))) inline void ap922Columns(const __m128i x[8], __m128i* p) {
    const __m128i tan1 = _mm_set1_epi16(kTan1);
    const __m128i tan2 = _mm_set1_epi16(kTan2);
    const __m128i tan3m = _mm_set1_epi16(kTan3m);
    const __m128i cos4 = _mm_set1_epi16(kCos4);
    const __m128i tp17 = _mm_adds_epi16(x[1], _mm_mulhi_epi16(x[7], tan1));
    const __m128i tm17 = _mm_subs_epi16(_mm_mulhi_epi16(x[1], tan1), x[7]);
    const __m128i tp35 = _mm_adds_epi16(x[3], _mm_adds_epi16(_mm_mulhi_epi16(x[5], tan3m), x[5]));
    const __m128i tm35 = _mm_subs_epi16(_mm_adds_epi16(_mm_mulhi_epi16(x[3], tan3m), x[3]), x[5]);
    const __m128i b0 = _mm_adds_epi16(tp17, tp35);
    const __m128i b3 = _mm_subs_epi16(tm17, tm35);
    const __m128i t1 = _mm_subs_epi16(tp17, tp35);
    const __m128i t2 = _mm_adds_epi16(tm17, tm35);
    __m128i b1 = _mm_mulhi_epi16(_mm_adds_epi16(t1, t2), cos4);
    __m128i b2 = _mm_mulhi_epi16(_mm_subs_epi16(t1, t2), cos4);
    b1 = _mm_adds_epi16(b1, b1);
    b2 = _mm_adds_epi16(b2, b2);
    const __m128i tp26 = _mm_adds_epi16(x[2], _mm_mulhi_epi16(x[6], tan2));
    const __m128i tm26 = _mm_subs_epi16(_mm_mulhi_epi16(x[2], tan2), x[6]);
    const __m128i tp04 = _mm_adds_epi16(x[0], x[4]);
    const __m128i tm04 = _mm_subs_epi16(x[0], x[4]);
    const __m128i a0 = _mm_adds_epi16(tp04, tp26);
    const __m128i a3 = _mm_subs_epi16(tp04, tp26);
    const __m128i a1 = _mm_adds_epi16(tm04, tm26);
    const __m128i a2 = _mm_subs_epi16(tm04, tm26);
    _mm_storeu_si128(p + 0, _mm_srai_epi16(_mm_adds_epi16(a0, b0), kColShift));
    _mm_storeu_si128(p + 7, _mm_srai_epi16(_mm_subs_epi16(a0, b0), kColShift));
    _mm_storeu_si128(p + 1, _mm_srai_epi16(_mm_adds_epi16(a1, b1), kColShift));
    _mm_storeu_si128(p + 6, _mm_srai_epi16(_mm_subs_epi16(a1, b1), kColShift));
    _mm_storeu_si128(p + 2, _mm_srai_epi16(_mm_adds_epi16(a2, b2), kColShift));
    _mm_storeu_si128(p + 5, _mm_srai_epi16(_mm_subs_epi16(a2, b2), kColShift));
    _mm_storeu_si128(p + 3, _mm_srai_epi16(_mm_adds_epi16(a3, b3), kColShift));
    _mm_storeu_si128(p + 4, _mm_srai_epi16(_mm_subs_epi16(a3, b3), kColShift));
}

__attribute__((target("sse2"))) void idctAp922Sse2(int16_t* block) {
    __m128i* p = reinterpret_cast<__m128i*>(block);
    __m128i x[8];
    for (int r = 0; r < 8; ++r) x[r] = sseRow(_mm_loadu_si128(p + r), r);
    ap922Columns(x, p);
}

// Two neighbouring rows a register, each half with its own row's tables
// and rounder: every step of the row pass works within a half, so each row
// comes out as the SSE2 pass makes it.
struct alignas(32) RowPairTables {
    int16_t e[4][4][16];  // [pair][pair group][lane]
    int32_t rounder[4][8];
};

RowPairTables makeRowPairTables() {
    RowPairTables t{};
    for (int pair = 0; pair < 4; ++pair)
        for (int half = 0; half < 2; ++half) {
            const int row = 2 * pair + half;
            for (int g = 0; g < 4; ++g)
                std::memcpy(t.e[pair][g] + 8 * half, kSse.e[kRowClass[row]][g],
                            8 * sizeof(int16_t));
            for (int k = 0; k < 4; ++k) t.rounder[pair][4 * half + k] = kRowRounder[row];
        }
    return t;
}
const RowPairTables kRowPairs = makeRowPairTables();

__attribute__((target("avx2"))) void idctAp922Avx2(int16_t* block) {
    __m128i* p = reinterpret_cast<__m128i*>(block);
    __m128i x[8];
    for (int pair = 0; pair < 4; ++pair) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 16 * pair));
        v = _mm256_shufflelo_epi16(v, _MM_SHUFFLE(3, 1, 2, 0));
        v = _mm256_shufflehi_epi16(v, _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i* t = reinterpret_cast<const __m256i*>(kRowPairs.e[pair]);
        __m256i a =
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(v, _MM_SHUFFLE(0, 0, 0, 0)),
                                               _mm256_load_si256(t + 0)),
                             _mm256_madd_epi16(_mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 2, 2, 2)),
                                               _mm256_load_si256(t + 1)));
        a = _mm256_add_epi32(
            a, _mm256_load_si256(reinterpret_cast<const __m256i*>(kRowPairs.rounder[pair])));
        const __m256i b =
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(v, _MM_SHUFFLE(1, 1, 1, 1)),
                                               _mm256_load_si256(t + 2)),
                             _mm256_madd_epi16(_mm256_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 3)),
                                               _mm256_load_si256(t + 3)));
        const __m256i lo = _mm256_srai_epi32(_mm256_add_epi32(a, b), kRowShift);
        const __m256i hi = _mm256_srai_epi32(_mm256_sub_epi32(a, b), kRowShift);
        const __m256i y =
            _mm256_shufflehi_epi16(_mm256_packs_epi32(lo, hi), _MM_SHUFFLE(0, 1, 2, 3));
        x[2 * pair] = _mm256_castsi256_si128(y);
        x[2 * pair + 1] = _mm256_extracti128_si256(y, 1);
    }
    // Clean upper halves before the SSE code of the column pass and of
    // whatever runs next.
    _mm256_zeroupper();
    ap922Columns(x, p);
}
#endif

inline int16_t clip256(double v) {
    // Clamping directly also covers values beyond the table range a
    // damaged stream can produce.
    if (v < -256.0) return -256;
    if (v > 255.0) return 255;
    return int16_t(v);
}

const double kSqrtHalf = std::sqrt(0.5);
const double kW1 = std::sqrt(2.0) * std::cos(1 * M_PI / 16);
const double kW2 = std::sqrt(2.0) * std::cos(2 * M_PI / 16);
const double kW3 = std::sqrt(2.0) * std::cos(3 * M_PI / 16);
const double kW5 = std::sqrt(2.0) * std::cos(5 * M_PI / 16);
const double kW6 = std::sqrt(2.0) * std::cos(6 * M_PI / 16);
const double kW7 = std::sqrt(2.0) * std::cos(7 * M_PI / 16);

// One 8-point pass of the butterfly transform: out = E +- O where the input
// is X0..X7 (natural order) with stride `s`; `scale` normalises.
inline void fastPass(const double* in, int s, double* out, int os, double scale) {
    double x0 = in[0], x1 = in[4 * s], x2 = in[6 * s], x3 = in[2 * s];
    double x4 = in[1 * s], x5 = in[7 * s], x6 = in[5 * s], x7 = in[3 * s];
    double x8 = kW7 * (x4 + x5);
    x4 = x8 + (kW1 - kW7) * x4;
    x5 = x8 - (kW1 + kW7) * x5;
    x8 = kW3 * (x6 + x7);
    x6 = x8 - (kW3 - kW5) * x6;
    x7 = x8 - (kW3 + kW5) * x7;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = kW6 * (x3 + x2);
    x2 = x1 - (kW2 + kW6) * x2;
    x3 = x1 + (kW2 - kW6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = kSqrtHalf * (x4 + x5);
    x4 = kSqrtHalf * (x4 - x5);
    out[0 * os] = (x7 + x1) * scale;
    out[1 * os] = (x3 + x2) * scale;
    out[2 * os] = (x0 + x4) * scale;
    out[3 * os] = (x8 + x6) * scale;
    out[4 * os] = (x8 - x6) * scale;
    out[5 * os] = (x0 - x4) * scale;
    out[6 * os] = (x3 - x2) * scale;
    out[7 * os] = (x7 - x1) * scale;
}

struct ReferenceMatrix {
    double c[8][8];
    ReferenceMatrix() {
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x)
                c[u][x] =
                    (u == 0 ? std::sqrt(1.0 / 8.0) : 0.5) * std::cos(u * M_PI / 8.0 * (x + 0.5));
    }
};
const ReferenceMatrix kRef;

}  // namespace

void idctAp922Plain(int16_t* block) {
    for (int r = 0; r < 8; ++r) ap922Row(block + r * 8, r);
    for (int c = 0; c < 8; ++c) ap922Column(block, c);
}

void idctAp922DcOnly(int16_t* block) {
    // The row pass: row 0 is c4 x DC throughout; the other rows are zero
    // and keep only their rounders. Every column is then the same column.
    constexpr auto rounderOnly = [](int r) { return int16_t(kRowRounder[r] >> kRowShift); };
    const int16_t x[8] = {
        sat16(int32_t(mul(kRowTable[0][0], block[0]) + uint32_t(kRowRounder[0])) >> kRowShift),
        rounderOnly(1), rounderOnly(2), rounderOnly(3), rounderOnly(4),
        rounderOnly(5), rounderOnly(6), rounderOnly(7)};
    int16_t out[8];
    ap922ColumnValues(x, out);
    for (int r = 0; r < 8; ++r) {
        const uint64_t four = uint64_t(uint16_t(out[r])) * 0x0001000100010001u;
        std::memcpy(block + r * 8, &four, 8);
        std::memcpy(block + r * 8 + 4, &four, 8);
    }
}

void idctFastFloat(int16_t* block) {
    double tmp[64];
    for (int r = 0; r < 8; ++r) {
        const int16_t* row = block + r * 8;
        bool acZero = true;
        for (int k = 1; k < 8; ++k) acZero = acZero && row[k] == 0;
        if (acZero) {
            for (int k = 0; k < 8; ++k) tmp[r * 8 + k] = row[0];
            continue;
        }
        double in[8];
        for (int k = 0; k < 8; ++k) in[k] = row[k];
        fastPass(in, 1, tmp + r * 8, 1, 1.0);
    }
    double out[64];
    for (int c = 0; c < 8; ++c) fastPass(tmp + c, 8, out + c, 8, 1.0 / 8.0);
    for (int i = 0; i < 64; ++i) block[i] = clip256(std::nearbyint(out[i]));
}

void idctReference(int16_t* block) {
    bool zero = true;
    for (int i = 0; i < 63 && zero; ++i) zero = block[i] == 0;
    if (zero && (block[63] & ~1) == 0) {
        block[63] = 0;
        return;
    }
    double tmp[8][8];  // [v][x]: rows transformed
    for (int v = 0; v < 8; ++v)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int u = 0; u < 8; ++u) s += kRef.c[u][x] * block[v * 8 + u];
            tmp[v][x] = s;
        }
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y) {
            double s = 0;
            for (int v = 0; v < 8; ++v) s += kRef.c[v][y] * tmp[v][x];
            block[y * 8 + x] = clip256(std::floor(s + 0.5));
        }
}

IdctKernels makeIdctKernels(CpuLevel level) {
    IdctKernels k{idctAp922Plain};
#ifdef ZEMBRA_X86
    if (level >= CpuLevel::Sse2) k.ap922 = idctAp922Sse2;
    if (level >= CpuLevel::Avx2) k.ap922 = idctAp922Avx2;
#else
    (void)level;
#endif
    return k;
}

const IdctKernels& idctKernels() {
    static const IdctKernels k = makeIdctKernels(cpuLevel());
    return k;
}

}  // namespace zembra
