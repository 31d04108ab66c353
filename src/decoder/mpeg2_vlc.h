#pragma once
// Variable-length code tables of ISO/IEC 13818-2 Annex B (shared with
// ISO/IEC 11172-2), built once into lookup tables indexed by the next bits.

#include <cstdint>

namespace zembra::vlc {

struct Entry {
    int16_t value = 0;
    uint8_t length = 0;  // 0 = not a valid code
};

// Macroblock address increment, indexed by the next 11 bits.
inline constexpr int kMbaStuffing = 34;
inline constexpr int kMbaEscape = 35;
const Entry* mbaTable();  // 2048 entries
// macroblock_type for I, P, B pictures, indexed by the next 6 bits; values
// are the flags below.
inline constexpr int kMbQuant = 0x10;
inline constexpr int kMbForward = 0x08;
inline constexpr int kMbBackward = 0x04;
inline constexpr int kMbPattern = 0x02;
inline constexpr int kMbIntra = 0x01;
const Entry* mbTypeTable(int pictureType);  // 64 entries; nullptr for other types
const Entry* cbpTable();                    // 9 bits, 512 entries
const Entry* motionTable();                 // 11 bits with the sign, 2048 entries
const Entry* dcLumaTable();                 // 10 bits
const Entry* dcChromaTable();               // 10 bits

// DCT coefficients: codes whose first six bits are not all zero are found
// by the next 8 bits (table `shortCodes`); the others by bits 6..15 of the
// next 16 (table `longCodes`). Lengths exclude the sign bit.
struct Coefficient {
    uint8_t run = 0;  // kEob, kEscape, or 0..63
    uint8_t length = 0;
    int16_t level = 0;
};
inline constexpr uint8_t kEob = 64;
inline constexpr uint8_t kEscape = 65;
struct CoefficientTable {
    Coefficient shortCodes[256];
    Coefficient longCodes[1024];
    const Coefficient& lookup(uint32_t next16) const {
        return next16 >= 0x0400 ? shortCodes[next16 >> 8] : longCodes[next16];
    }
};
const CoefficientTable& coefficientTable(int which);  // 0 = B.14, 1 = B.15

// The code lists themselves, for the table checks.
struct CodeText {
    const char* bits;
    int run;  // or value
    int level;
};
int coefficientCodes(int which, const CodeText** codes);  // returns count

extern const uint8_t kZigZag[64];
extern const uint8_t kAlternateScan[64];
extern const uint8_t kDefaultIntraMatrix[64];  // natural order
extern const uint8_t kNonLinearQuant[32];

}  // namespace zembra::vlc
