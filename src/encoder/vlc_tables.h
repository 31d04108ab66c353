#pragma once
// Variable-length code tables of ISO/IEC 11172-2 / 13818-2 used by the
// video encoder (code value, length in bits; sign bits are written apart).

#include <cstdint>

namespace zembra::vlc {

struct Code {
    std::uint16_t value;
    std::uint8_t length;
};

// macroblock_address_increment 1..33.
extern const Code kAddressIncrement[34];
// coded_block_pattern 0..63.
extern const Code kCodedBlockPattern[64];
// motion_code magnitude 0..16 (sign follows when non-zero).
extern const Code kMotionCode[17];
// dct_dc_size for luminance and chrominance, 0..11.
extern const Code kDcSizeLuma[12];
extern const Code kDcSizeChroma[12];

// DCT coefficient table zero by run (0..31) and level (1..40); length 0
// where the pair has no short code.
extern const Code (&kDctCoefficient)[32][41];

// The short code of a run/level pair, sign not included. Returns false when
// the pair needs an escape.
inline bool dctCoefficient(int run, int level, Code& out) {
    if (run < 0 || run > 31 || level < 1 || level > 40) return false;
    out = kDctCoefficient[run][level];
    return out.length != 0;
}

}  // namespace zembra::vlc
