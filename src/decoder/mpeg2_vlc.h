#pragma once
// The decoder's lookup tables of the MPEG video codes (mpeg/vlc_codes.h),
// built once and indexed by the next bits of the stream.

#include <cstdint>

#include "mpeg/picture_type.h"
#include "mpeg/vlc_codes.h"

namespace zembra::vlc {

struct Entry {
    int16_t value = 0;
    uint8_t length = 0;  // 0 = not a valid code
};

// Macroblock address increment, indexed by the next 11 bits.
using mpeg::kMbaEscape;
using mpeg::kMbaStuffing;
const Entry* mbaTable();  // 2048 entries
// macroblock_type for I, P, B pictures, indexed by the next 6 bits; values
// are the flags below.
using mpeg::kMbBackward;
using mpeg::kMbForward;
using mpeg::kMbIntra;
using mpeg::kMbPattern;
using mpeg::kMbQuant;
const Entry* mbTypeTable(mpeg::PictureType type);  // 64 entries; nullptr for other types
const Entry* cbpTable();                           // 9 bits, 512 entries
const Entry* motionTable();                        // 11 bits with the sign, 2048 entries
const Entry* dcLumaTable();                        // 10 bits
const Entry* dcChromaTable();                      // 10 bits

// DCT coefficients: codes whose first six bits are not all zero are found
// by the next 8 bits (table `shortCodes`); the others by bits 6..15 of the
// next 16 (table `longCodes`). Lengths exclude the sign bit.
struct Coefficient {
    uint8_t run = 0;  // kEob, kEscape, or 0..63
    uint8_t length = 0;
    int16_t level = 0;
};
inline constexpr uint8_t kEob = mpeg::kEndOfBlock;
inline constexpr uint8_t kEscape = mpeg::kEscape;
struct CoefficientTable {
    Coefficient shortCodes[256];
    Coefficient longCodes[1024];
    const Coefficient& lookup(uint32_t next16) const {
        return next16 >= 0x0400 ? shortCodes[next16 >> 8] : longCodes[next16];
    }
};
const CoefficientTable& coefficientTable(int which);  // 0 = B.14, 1 = B.15

}  // namespace zembra::vlc
