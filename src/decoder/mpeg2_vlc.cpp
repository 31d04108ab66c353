#include "decoder/mpeg2_vlc.h"

#include <cstring>
#include <vector>

namespace zembra::vlc {

const uint8_t kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

const uint8_t kAlternateScan[64] = {0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
                                    41, 33, 26, 18, 3,  11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
                                    51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
                                    53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

const uint8_t kDefaultIntraMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

const uint8_t kNonLinearQuant[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12,
                                     14, 16, 18, 20, 22, 24, 28, 32, 36, 40, 44,
                                     48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

namespace {

struct Code {
    const char* bits;
    int value;
};

const Code kMba[] = {
    {"1", 1},           {"011", 2},         {"010", 3},         {"0011", 4},
    {"0010", 5},        {"00011", 6},       {"00010", 7},       {"0000111", 8},
    {"0000110", 9},     {"00001011", 10},   {"00001010", 11},   {"00001001", 12},
    {"00001000", 13},   {"00000111", 14},   {"00000110", 15},   {"0000010111", 16},
    {"0000010110", 17}, {"0000010101", 18}, {"0000010100", 19}, {"0000010011", 20},
    {"0000010010", 21}, {"00000100011", 22}, {"00000100010", 23}, {"00000100001", 24},
    {"00000100000", 25}, {"00000011111", 26}, {"00000011110", 27}, {"00000011101", 28},
    {"00000011100", 29}, {"00000011011", 30}, {"00000011010", 31}, {"00000011001", 32},
    {"00000011000", 33}, {"00000001111", kMbaStuffing}, {"00000001000", kMbaEscape},
};

const Code kMbTypeI[] = {{"1", kMbIntra}, {"01", kMbQuant | kMbIntra}};
const Code kMbTypeP[] = {
    {"1", kMbForward | kMbPattern},
    {"01", kMbPattern},
    {"001", kMbForward},
    {"00011", kMbIntra},
    {"00010", kMbQuant | kMbForward | kMbPattern},
    {"00001", kMbQuant | kMbPattern},
    {"000001", kMbQuant | kMbIntra},
};
const Code kMbTypeB[] = {
    {"10", kMbForward | kMbBackward},
    {"11", kMbForward | kMbBackward | kMbPattern},
    {"010", kMbBackward},
    {"011", kMbBackward | kMbPattern},
    {"0010", kMbForward},
    {"0011", kMbForward | kMbPattern},
    {"00011", kMbIntra},
    {"00010", kMbQuant | kMbForward | kMbBackward | kMbPattern},
    {"000011", kMbQuant | kMbForward | kMbPattern},
    {"000010", kMbQuant | kMbBackward | kMbPattern},
    {"000001", kMbQuant | kMbIntra},
};
const Code kMbTypeD[] = {{"1", kMbIntra}};

const Code kCbp[] = {
    {"111", 60},       {"1101", 4},       {"1100", 8},       {"1011", 16},      {"1010", 32},
    {"10011", 12},     {"10010", 48},     {"10001", 20},     {"10000", 40},     {"01111", 28},
    {"01110", 44},     {"01101", 52},     {"01100", 56},     {"01011", 1},      {"01010", 61},
    {"01001", 2},      {"01000", 62},     {"001111", 24},    {"001110", 36},    {"001101", 3},
    {"001100", 63},    {"0010111", 5},    {"0010110", 9},    {"0010101", 17},   {"0010100", 33},
    {"0010011", 6},    {"0010010", 10},   {"0010001", 18},   {"0010000", 34},   {"00011111", 7},
    {"00011110", 11},  {"00011101", 19},  {"00011100", 35},  {"00011011", 13},  {"00011010", 49},
    {"00011001", 21},  {"00011000", 41},  {"00010111", 14},  {"00010110", 50},  {"00010101", 22},
    {"00010100", 42},  {"00010011", 15},  {"00010010", 51},  {"00010001", 23},  {"00010000", 43},
    {"00001111", 25},  {"00001110", 37},  {"00001101", 26},  {"00001100", 38},  {"00001011", 29},
    {"00001010", 45},  {"00001001", 53},  {"00001000", 57},  {"00000111", 30},  {"00000110", 46},
    {"00000101", 54},  {"00000100", 58},  {"000000111", 31}, {"000000110", 47}, {"000000101", 55},
    {"000000100", 59}, {"000000011", 27}, {"000000010", 39}, {"000000001", 0},
};

// Magnitudes; the sign bit follows every code but the first.
const Code kMotion[] = {
    {"01", 1},          {"001", 2},         {"0001", 3},        {"000011", 4},
    {"0000101", 5},     {"0000100", 6},     {"0000011", 7},     {"000001011", 8},
    {"000001010", 9},   {"000001001", 10},  {"0000010001", 11}, {"0000010000", 12},
    {"0000001111", 13}, {"0000001110", 14}, {"0000001101", 15}, {"0000001100", 16},
};

const Code kDcLuma[] = {
    {"100", 0},    {"00", 1},      {"01", 2},       {"101", 3},        {"110", 4},       {"1110", 5},
    {"11110", 6},  {"111110", 7},  {"1111110", 8},  {"11111110", 9},   {"111111110", 10}, {"111111111", 11},
};
const Code kDcChroma[] = {
    {"00", 0},      {"01", 1},       {"10", 2},        {"110", 3},         {"1110", 4},
    {"11110", 5},   {"111110", 6},   {"1111110", 7},   {"11111110", 8},    {"111111110", 9},
    {"1111111110", 10}, {"1111111111", 11},
};

// B.14, without the first-coefficient form "1s" of (0, 1) which the block
// decoder handles itself. Run 64 = end of block, 65 = escape.
const CodeText kTableZero[] = {
    {"10", kEob, 0},           {"11", 0, 1},              {"011", 1, 1},
    {"0100", 0, 2},            {"0101", 2, 1},            {"00101", 0, 3},
    {"00111", 3, 1},           {"00110", 4, 1},           {"000110", 1, 2},
    {"000111", 5, 1},          {"000101", 6, 1},          {"000100", 7, 1},
    {"0000110", 0, 4},         {"0000100", 2, 2},         {"0000111", 8, 1},
    {"0000101", 9, 1},         {"000001", kEscape, 0},    {"00100110", 0, 5},
    {"00100001", 0, 6},        {"00100101", 1, 3},        {"00100100", 3, 2},
    {"00100111", 10, 1},       {"00100011", 11, 1},       {"00100010", 12, 1},
    {"00100000", 13, 1},       {"0000001010", 0, 7},      {"0000001100", 1, 4},
    {"0000001011", 2, 3},      {"0000001111", 4, 2},      {"0000001001", 5, 2},
    {"0000001110", 14, 1},     {"0000001101", 15, 1},     {"0000001000", 16, 1},
    {"000000011101", 0, 8},    {"000000011000", 0, 9},    {"000000010011", 0, 10},
    {"000000010000", 0, 11},   {"000000011011", 1, 5},    {"000000010100", 2, 4},
    {"000000011100", 3, 3},    {"000000010010", 4, 3},    {"000000011110", 6, 2},
    {"000000010101", 7, 2},    {"000000010001", 8, 2},    {"000000011111", 17, 1},
    {"000000011010", 18, 1},   {"000000011001", 19, 1},   {"000000010111", 20, 1},
    {"000000010110", 21, 1},   {"0000000011010", 0, 12},  {"0000000011001", 0, 13},
    {"0000000011000", 0, 14},  {"0000000010111", 0, 15},  {"0000000010110", 1, 6},
    {"0000000010101", 1, 7},   {"0000000010100", 2, 5},   {"0000000010011", 3, 4},
    {"0000000010010", 5, 3},   {"0000000010001", 9, 2},   {"0000000010000", 10, 2},
    {"0000000011111", 22, 1},  {"0000000011110", 23, 1},  {"0000000011101", 24, 1},
    {"0000000011100", 25, 1},  {"0000000011011", 26, 1},
    // Codes of 14 bits and more are the same in both tables.
    {"00000000011111", 0, 16}, {"00000000011110", 0, 17}, {"00000000011101", 0, 18},
    {"00000000011100", 0, 19}, {"00000000011011", 0, 20}, {"00000000011010", 0, 21},
    {"00000000011001", 0, 22}, {"00000000011000", 0, 23}, {"00000000010111", 0, 24},
    {"00000000010110", 0, 25}, {"00000000010101", 0, 26}, {"00000000010100", 0, 27},
    {"00000000010011", 0, 28}, {"00000000010010", 0, 29}, {"00000000010001", 0, 30},
    {"00000000010000", 0, 31}, {"000000000011000", 0, 32}, {"000000000010111", 0, 33},
    {"000000000010110", 0, 34}, {"000000000010101", 0, 35}, {"000000000010100", 0, 36},
    {"000000000010011", 0, 37}, {"000000000010010", 0, 38}, {"000000000010001", 0, 39},
    {"000000000010000", 0, 40}, {"000000000011111", 1, 8}, {"000000000011110", 1, 9},
    {"000000000011101", 1, 10}, {"000000000011100", 1, 11}, {"000000000011011", 1, 12},
    {"000000000011010", 1, 13}, {"000000000011001", 1, 14}, {"0000000000010011", 1, 15},
    {"0000000000010010", 1, 16}, {"0000000000010001", 1, 17}, {"0000000000010000", 1, 18},
    {"0000000000010100", 6, 3}, {"0000000000011010", 11, 2}, {"0000000000011001", 12, 2},
    {"0000000000011000", 13, 2}, {"0000000000010111", 14, 2}, {"0000000000010110", 15, 2},
    {"0000000000010101", 16, 2}, {"0000000000011111", 27, 1}, {"0000000000011110", 28, 1},
    {"0000000000011101", 29, 1}, {"0000000000011100", 30, 1}, {"0000000000011011", 31, 1},
};
constexpr int kSharedLongCodes = 16 + 9 + 7 + 4 + 1 + 6 + 5;  // entries from "(0,16)" on

const CodeText kTableOneShort[] = {
    {"0110", kEob, 0},        {"10", 0, 1},             {"010", 1, 1},
    {"110", 0, 2},            {"00101", 2, 1},          {"0111", 0, 3},
    {"00111", 3, 1},          {"000110", 4, 1},         {"00110", 1, 2},
    {"000111", 5, 1},         {"0000110", 6, 1},        {"0000100", 7, 1},
    {"11100", 0, 4},          {"0000111", 2, 2},        {"0000101", 8, 1},
    {"1111000", 9, 1},        {"000001", kEscape, 0},   {"11101", 0, 5},
    {"000101", 0, 6},         {"1111001", 1, 3},        {"00100110", 3, 2},
    {"1111010", 10, 1},       {"00100001", 11, 1},      {"00100101", 12, 1},
    {"00100100", 13, 1},      {"000100", 0, 7},         {"00100111", 1, 4},
    {"11111100", 2, 3},       {"11111101", 4, 2},       {"000000100", 5, 2},
    {"000000101", 14, 1},     {"000000111", 15, 1},     {"0000001101", 16, 1},
    {"1111011", 0, 8},        {"1111100", 0, 9},        {"00100011", 0, 10},
    {"00100010", 0, 11},      {"00100000", 1, 5},       {"0000001100", 2, 4},
    {"000000011100", 3, 3},   {"000000010010", 4, 3},   {"000000011110", 6, 2},
    {"000000010101", 7, 2},   {"000000010001", 8, 2},   {"000000011111", 17, 1},
    {"000000011010", 18, 1},  {"000000011001", 19, 1},  {"000000010111", 20, 1},
    {"000000010110", 21, 1},  {"11111010", 0, 12},      {"11111011", 0, 13},
    {"11111110", 0, 14},      {"11111111", 0, 15},      {"0000000010110", 1, 6},
    {"0000000010101", 1, 7},  {"0000000010100", 2, 5},  {"0000000010011", 3, 4},
    {"0000000010010", 5, 3},  {"0000000010001", 9, 2},  {"0000000010000", 10, 2},
    {"0000000011111", 22, 1}, {"0000000011110", 23, 1}, {"0000000011101", 24, 1},
    {"0000000011100", 25, 1}, {"0000000011011", 26, 1},
};

std::vector<CodeText> makeTableOne() {
    std::vector<CodeText> v(std::begin(kTableOneShort), std::end(kTableOneShort));
    const int n = int(sizeof kTableZero / sizeof kTableZero[0]);
    for (int i = n - kSharedLongCodes; i < n; ++i) v.push_back(kTableZero[i]);
    return v;
}
const std::vector<CodeText> kTableOne = makeTableOne();

uint32_t parseBits(const char* s, int& length) {
    uint32_t v = 0;
    length = 0;
    for (; *s; ++s, ++length) v = (v << 1) | uint32_t(*s == '1');
    return v;
}

template <size_t N>
std::vector<Entry> build(const Code (&codes)[N], int bits) {
    std::vector<Entry> t(size_t(1) << bits);
    for (const Code& c : codes) {
        int len;
        const uint32_t v = parseBits(c.bits, len);
        const uint32_t first = v << (bits - len), count = 1u << (bits - len);
        for (uint32_t i = 0; i < count; ++i) t[first + i] = {int16_t(c.value), uint8_t(len)};
    }
    return t;
}

std::vector<Entry> buildMotion() {
    std::vector<Entry> t(2048);
    // "1" = 0, then each magnitude with its sign bit (1 = negative).
    for (uint32_t i = 0; i < 1024; ++i) t[1024 + i] = {0, 1};
    for (const Code& c : kMotion) {
        int len;
        const uint32_t v = parseBits(c.bits, len);
        for (int sign = 0; sign < 2; ++sign) {
            const uint32_t code = (v << 1) | uint32_t(sign);
            const int l = len + 1;
            const uint32_t first = code << (11 - l), count = 1u << (11 - l);
            for (uint32_t i = 0; i < count; ++i)
                t[first + i] = {int16_t(sign ? -c.value : c.value), uint8_t(l)};
        }
    }
    return t;
}

CoefficientTable buildCoefficients(const CodeText* codes, int count) {
    CoefficientTable t{};
    for (int k = 0; k < count; ++k) {
        int len;
        const uint32_t v = parseBits(codes[k].bits, len);
        Coefficient e{uint8_t(codes[k].run), uint8_t(len), int16_t(codes[k].level)};
        const uint32_t code16 = v << (16 - len);
        if (code16 >= 0x0400) {
            // Short code: at most 8 bits, found by the top byte.
            const uint32_t first = code16 >> 8, n = 1u << (8 - len);
            for (uint32_t i = 0; i < n; ++i) t.shortCodes[first + i] = e;
        } else {
            const uint32_t n = 1u << (16 - len);
            for (uint32_t i = 0; i < n; ++i) t.longCodes[code16 + i] = e;
        }
    }
    return t;
}

struct Tables {
    std::vector<Entry> mba = build(kMba, 11);
    std::vector<Entry> mbI = build(kMbTypeI, 6);
    std::vector<Entry> mbP = build(kMbTypeP, 6);
    std::vector<Entry> mbB = build(kMbTypeB, 6);
    std::vector<Entry> mbD = build(kMbTypeD, 6);
    std::vector<Entry> cbp = build(kCbp, 9);
    std::vector<Entry> motion = buildMotion();
    std::vector<Entry> dcLuma = build(kDcLuma, 10);
    std::vector<Entry> dcChroma = build(kDcChroma, 10);
    CoefficientTable zero =
        buildCoefficients(kTableZero, int(sizeof kTableZero / sizeof kTableZero[0]));
    CoefficientTable one = buildCoefficients(kTableOne.data(), int(kTableOne.size()));
};

const Tables& tables() {
    static const Tables t;
    return t;
}

}  // namespace

const Entry* mbaTable() { return tables().mba.data(); }
const Entry* mbTypeTable(int pictureType) {
    switch (pictureType) {
        case 1: return tables().mbI.data();
        case 2: return tables().mbP.data();
        case 3: return tables().mbB.data();
        case 4: return tables().mbD.data();
        default: return nullptr;
    }
}
const Entry* cbpTable() { return tables().cbp.data(); }
const Entry* motionTable() { return tables().motion.data(); }
const Entry* dcLumaTable() { return tables().dcLuma.data(); }
const Entry* dcChromaTable() { return tables().dcChroma.data(); }
const CoefficientTable& coefficientTable(int which) {
    return which ? tables().one : tables().zero;
}

int coefficientCodes(int which, const CodeText** codes) {
    if (which) {
        *codes = kTableOne.data();
        return int(kTableOne.size());
    }
    *codes = kTableZero;
    return int(sizeof kTableZero / sizeof kTableZero[0]);
}

}  // namespace zembra::vlc
