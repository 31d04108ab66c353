#pragma once
// The MPEG video codes (mpeg/vlc_codes.h) as the video encoder writes them:
// indexed by value, code and length in bits; sign bits are written apart.
// Built at compile time.

#include <cstdint>
#include <span>

#include "mpeg/vlc_codes.h"

namespace zembra::vlc {

struct Code {
    std::uint16_t value = 0;
    std::uint8_t length = 0;
};

constexpr Code toCode(const char* bits) {
    const mpeg::BitString b = mpeg::parseBits(bits);
    return {static_cast<std::uint16_t>(b.value), static_cast<std::uint8_t>(b.length)};
}

// The codes of a list by their value; values of N and above (stuffing,
// escape) are not written through these tables.
template <int N>
struct CodesByValue {
    Code t[N]{};
    constexpr explicit CodesByValue(std::span<const mpeg::VlcCode> codes) {
        for (const mpeg::VlcCode& c : codes)
            if (c.value >= 0 && c.value < N) t[c.value] = toCode(c.bits);
    }
    constexpr const Code& operator[](int value) const { return t[value]; }
};

// macroblock_address_increment 1..33.
inline constexpr CodesByValue<34> kAddressIncrement(mpeg::kMacroblockAddressIncrement);
// coded_block_pattern 0..63.
inline constexpr CodesByValue<64> kCodedBlockPattern(mpeg::kCodedBlockPattern);
// motion_code magnitude 0..16 (sign follows when non-zero).
inline constexpr CodesByValue<17> kMotionCode(mpeg::kMotionCode);
// dct_dc_size for luminance and chrominance, 0..11.
inline constexpr CodesByValue<12> kDcSizeLuma(mpeg::kDcSizeLuma);
inline constexpr CodesByValue<12> kDcSizeChroma(mpeg::kDcSizeChroma);

// DCT coefficient table zero by run (0..31) and level (1..40); length 0
// where the pair has no short code.
struct CoefficientCodes {
    Code t[32][41]{};
    constexpr CoefficientCodes() {
        for (const mpeg::CoefficientCode& e : mpeg::kCoefficientsZero)
            if (e.run < 32) t[e.run][e.level] = toCode(e.bits);
    }
};
inline constexpr CoefficientCodes kDctCoefficient{};

// The same codes as written, with room for the sign bit after them: bits
// 5 and up hold the code shifted left once, bits 0-4 its length + 1; 0
// where the pair has no short code, and at level 41, where the coder puts
// every larger level.
struct SignedCoefficientCodes {
    std::uint32_t t[32][42]{};
    constexpr SignedCoefficientCodes() {
        for (int run = 0; run < 32; ++run)
            for (int level = 1; level <= 40; ++level) {
                const Code c = kDctCoefficient.t[run][level];
                if (c.length != 0)
                    t[run][level] = static_cast<std::uint32_t>(c.value) << 6 |
                                    static_cast<std::uint32_t>(c.length + 1);
            }
    }
};
inline constexpr SignedCoefficientCodes kSignedDctCoefficient{};

// The short code of a run/level pair, sign not included. Returns false when
// the pair needs an escape.
inline bool dctCoefficient(int run, int level, Code& out) {
    if (run < 0 || run > 31 || level < 1 || level > 40) return false;
    out = kDctCoefficient.t[run][level];
    return out.length != 0;
}

}  // namespace zembra::vlc
