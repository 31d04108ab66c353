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

// DCT coefficients with their sign bit: codes whose first six bits are not
// all zero are found by the next 9 bits (the short codes); the others by
// bits 6..16 of the next 17 (the long codes, from kLongCodes on). Lengths include the sign
// bit, levels carry the sign; the end of block and the escape have none.
struct Coefficient {
    uint8_t run = 0;  // kEob, kEscape, or 0..63
    uint8_t length = 0;
    int16_t level = 0;
};
inline constexpr uint8_t kEob = mpeg::kEndOfBlock;
inline constexpr uint8_t kEscape = mpeg::kEscape;
// One or two coefficients, with their sign bits, in one step: a short
// first code followed by another that ends within the next 10 bits makes a
// pair; otherwise the entry holds the first code alone, repeated as the
// second at the same position. skip[0] == kOneCodeTable: the end of block,
// the escape or no code, for the one-code table to tell; it takes any
// position past the block, so one check finds both that and a bad run.
struct CoefficientPair {
    static constexpr uint8_t kOneCodeTable = 128;
    uint8_t skip[2] = {kOneCodeTable, 0};  // run + 1 of each code
    uint8_t length = 0;        // of both codes
    uint8_t unused = 0;
    int16_t level[2] = {0, 0};  // signed; factors in the non-intra table
};
struct CoefficientTable {
    // Short codes, then long codes.
    static constexpr uint32_t kLongCodes = 512;
    Coefficient codes[kLongCodes + 2048];
    // The same for pairs, the short codes found by the next 10 bits.
    static constexpr uint32_t kLongPairs = 1024;
    CoefficientPair pairs[kLongPairs + 2048];
    // next32: the next 32 bits of the stream, the first in the top bit.
    const Coefficient& lookup(uint32_t next32) const {
        return codes[pick(next32, next32 >> 23, kLongCodes + (next32 >> 15))];
    }
    const CoefficientPair& lookupPair(uint32_t next32) const {
        return pairs[pick(next32, next32 >> 22, kLongPairs + (next32 >> 15))];
    }
    // The short index when the first six bits are not all zero, else the
    // long one. A conditional move, written out: long codes are about a
    // fifth of the codes of a well-fed picture, too many and too scattered
    // for the branch the compiler makes to be foreseen, and a select by
    // masks lengthens every step's chain by more than the mispredictions
    // cost.
    static uint32_t pick(uint32_t next32, uint32_t shortAt, uint32_t longAt) {
#if defined(__x86_64__) || defined(__i386__)
        uint32_t at = shortAt;
        asm("cmpl %[limit], %[next]\n\tcmovb %[longAt], %[at]"
            : [at] "+r"(at)
            : [next] "r"(next32), [limit] "i"(1u << 26), [longAt] "r"(longAt)
            : "cc");
        return at;
#else
        return next32 >= (1u << 26) ? shortAt : longAt;
#endif
    }
};
const CoefficientTable& coefficientTable(int which);  // 0 = B.14, 1 = B.15
// B.14 for the blocks of non-intra macroblocks: the pairs' levels are
// 2 |level| + 1 with the level's sign, the factor of the quantiser step.
// The one-code lookup keeps the levels.
const CoefficientTable& nonIntraCoefficientTable();

}  // namespace zembra::vlc
