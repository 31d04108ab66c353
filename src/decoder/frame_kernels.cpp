#include "decoder/frame_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define ZEMBRA_FRAME_X86 1
#endif

namespace zembra {
namespace {

inline uint8_t clampByte(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

void averageRowsPlain(const uint8_t* a, const uint8_t* b, uint8_t* dst, int n) {
    for (int i = 0; i < n; ++i) dst[i] = uint8_t((a[i] + b[i]) >> 1);
}

void luminancePlain(const uint8_t* src, uint8_t* dst, int n, int gain, int offset) {
    for (int i = 0; i < n; ++i) dst[i] = clampByte(((src[i] * gain + 64) >> 7) + offset);
}

void upsampleRowPlain(const uint8_t* c, uint8_t* dst, int width) {
    const int cw = (width + 1) / 2;
    for (int x = 0; x < width; ++x) {
        const int i = x >> 1;
        dst[x] = (x % 2 == 0 || i + 1 >= cw) ? c[i] : uint8_t((c[i] + c[i + 1]) >> 1);
    }
}

// Fixed-point constants with 13 fractional bits.
constexpr int kLuma = 8192, kRound = 4096, kCbB = 14516, kCrR = 11485, kCbG = -2819, kCrG = -5850;

inline void pixelToBgr(int y, int cb, int cr, int yOffset, uint8_t* out) {
    int y0 = (y - yOffset) * kLuma + kRound;
    cb -= 128;
    cr -= 128;
    out[0] = clampByte((y0 + kCbB * cb) >> 13);
    out[1] = clampByte((y0 + kCbG * cb + kCrG * cr) >> 13);
    out[2] = clampByte((y0 + kCrR * cr) >> 13);
}

void yuvToBgraPlain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int n,
                    int yOffset) {
    for (int i = 0; i < n; ++i, dst += 4) {
        pixelToBgr(y[i], cb[i], cr[i], yOffset, dst);
        dst[3] = 0;
    }
}

void yuvToBgrPlain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int n,
                   int yOffset) {
    for (int i = 0; i < n; ++i, dst += 3) pixelToBgr(y[i], cb[i], cr[i], yOffset, dst);
}

#ifdef ZEMBRA_FRAME_X86

void averageRowsSse2(const uint8_t* a, const uint8_t* b, uint8_t* dst, int n) {
    const __m128i one = _mm_set1_epi8(1);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        // pavgb rounds up; take the odd bit back off for the truncating mean.
        __m128i avg = _mm_sub_epi8(_mm_avg_epu8(va, vb), _mm_and_si128(_mm_xor_si128(va, vb), one));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), avg);
    }
    averageRowsPlain(a + i, b + i, dst + i, n - i);
}

void luminanceSse2(const uint8_t* src, uint8_t* dst, int n, int gain, int offset) {
    // Offsets beyond +-512 saturate the same way as +-512 does.
    const __m128i g = _mm_set1_epi16(int16_t(gain));
    const __m128i o = _mm_set1_epi16(int16_t(std::clamp(offset, -512, 512)));
    const __m128i r = _mm_set1_epi16(64);
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
        lo = _mm_add_epi16(_mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(lo, g), r), 7), o);
        hi = _mm_add_epi16(_mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(hi, g), r), 7), o);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
    }
    luminancePlain(src + i, dst + i, n - i, gain, offset);
}

void upsampleRowSse2(const uint8_t* c, uint8_t* dst, int width) {
    const int cw = (width + 1) / 2;
    const __m128i one = _mm_set1_epi8(1);
    int i = 0;
    // Needs c[i + 16] for the last mean of each block.
    for (; i + 17 <= cw && 2 * i + 32 <= width; i += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i + 1));
        __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), _mm_unpacklo_epi8(a, mean));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + 16), _mm_unpackhi_epi8(a, mean));
    }
    for (int x = 2 * i; x < width; ++x) {
        const int j = x >> 1;
        dst[x] = (x % 2 == 0 || j + 1 >= cw) ? c[j] : uint8_t((c[j] + c[j + 1]) >> 1);
    }
}

// Eight pixels to B, G, R, 0 (32 bytes at dst).
inline void bgra8Sse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst,
                      __m128i yOff) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c128 = _mm_set1_epi16(128);
    __m128i vy = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)), zero), yOff);
    __m128i vb = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)), zero), c128);
    __m128i vr = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)), zero), c128);
    const __m128i kB = _mm_set_epi16(kCbB, kLuma, kCbB, kLuma, kCbB, kLuma, kCbB, kLuma);
    const __m128i kG1 = _mm_set_epi16(kCbG, kLuma, kCbG, kLuma, kCbG, kLuma, kCbG, kLuma);
    const __m128i kG2 = _mm_set_epi16(kRound, kCrG, kRound, kCrG, kRound, kCrG, kRound, kCrG);
    const __m128i kR = _mm_set_epi16(kCrR, kLuma, kCrR, kLuma, kCrR, kLuma, kCrR, kLuma);
    const __m128i round = _mm_set1_epi32(kRound);
    const __m128i one = _mm_set1_epi16(1);

    __m128i ybLo = _mm_unpacklo_epi16(vy, vb), ybHi = _mm_unpackhi_epi16(vy, vb);
    __m128i yrLo = _mm_unpacklo_epi16(vy, vr), yrHi = _mm_unpackhi_epi16(vy, vr);
    __m128i r1Lo = _mm_unpacklo_epi16(vr, one), r1Hi = _mm_unpackhi_epi16(vr, one);

    __m128i bLo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(ybLo, kB), round), 13);
    __m128i bHi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(ybHi, kB), round), 13);
    __m128i gLo =
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(ybLo, kG1), _mm_madd_epi16(r1Lo, kG2)), 13);
    __m128i gHi =
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(ybHi, kG1), _mm_madd_epi16(r1Hi, kG2)), 13);
    __m128i rLo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(yrLo, kR), round), 13);
    __m128i rHi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(yrHi, kR), round), 13);

    __m128i b = _mm_packs_epi32(bLo, bHi), g = _mm_packs_epi32(gLo, gHi);
    __m128i r = _mm_packs_epi32(rLo, rHi);
    // Saturate to bytes, then interleave B G and R 0 into pixels.
    __m128i b8 = _mm_packus_epi16(b, zero), g8 = _mm_packus_epi16(g, zero);
    __m128i r8 = _mm_packus_epi16(r, zero);
    __m128i bg = _mm_unpacklo_epi8(b8, g8), r0 = _mm_unpacklo_epi8(r8, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi16(bg, r0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm_unpackhi_epi16(bg, r0));
}

void yuvToBgraSse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int n,
                   int yOffset) {
    const __m128i yOff = _mm_set1_epi16(int16_t(yOffset));
    int i = 0;
    for (; i + 8 <= n; i += 8) bgra8Sse2(y + i, cb + i, cr + i, dst + 4 * i, yOff);
    yuvToBgraPlain(y + i, cb + i, cr + i, dst + 4 * i, n - i, yOffset);
}

void yuvToBgrSse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int n,
                  int yOffset) {
    const __m128i yOff = _mm_set1_epi16(int16_t(yOffset));
    alignas(16) uint8_t tmp[32];
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        bgra8Sse2(y + i, cb + i, cr + i, tmp, yOff);
        uint8_t* d = dst + 3 * i;
        for (int p = 0; p < 8; ++p) std::memcpy(d + 3 * p, tmp + 4 * p, 3);
    }
    yuvToBgrPlain(y + i, cb + i, cr + i, dst + 3 * i, n - i, yOffset);
}

#endif  // ZEMBRA_FRAME_X86

}  // namespace

FrameKernels makeFrameKernels(CpuLevel level) {
    FrameKernels k{averageRowsPlain, luminancePlain, upsampleRowPlain, yuvToBgraPlain,
                   yuvToBgrPlain};
#ifdef ZEMBRA_FRAME_X86
    if (level >= CpuLevel::Sse2) {
        k.averageRows = averageRowsSse2;
        k.luminance = luminanceSse2;
        k.upsampleRow = upsampleRowSse2;
        k.yuvToBgra = yuvToBgraSse2;
        k.yuvToBgr = yuvToBgrSse2;
    }
#else
    (void)level;
#endif
    return k;
}

const FrameKernels& frameKernels() {
    static const FrameKernels table = makeFrameKernels(cpuLevel());
    return table;
}

}  // namespace zembra
