#include "decoder/mpeg2_vlc.h"

#include <span>
#include <vector>

namespace zembra::vlc {

namespace {

using mpeg::CoefficientCode;
using mpeg::VlcCode;

std::vector<Entry> build(std::span<const VlcCode> codes, int bits) {
    std::vector<Entry> t(size_t(1) << bits);
    for (const VlcCode& c : codes) {
        const mpeg::BitString b = mpeg::parseBits(c.bits);
        const uint32_t first = b.value << (bits - b.length), count = 1u << (bits - b.length);
        for (uint32_t i = 0; i < count; ++i) t[first + i] = {int16_t(c.value), uint8_t(b.length)};
    }
    return t;
}

// Motion codes with their sign bit (1 = negative); "1" (zero) has none.
std::vector<Entry> buildMotion() {
    std::vector<Entry> t(2048);
    for (const VlcCode& c : mpeg::kMotionCode) {
        const mpeg::BitString b = mpeg::parseBits(c.bits);
        for (int sign = 0; sign < (c.value ? 2 : 1); ++sign) {
            const uint32_t code = c.value ? (b.value << 1) | uint32_t(sign) : b.value;
            const int l = c.value ? b.length + 1 : b.length;
            const uint32_t first = code << (11 - l), count = 1u << (11 - l);
            for (uint32_t i = 0; i < count; ++i)
                t[first + i] = {int16_t(sign ? -c.value : c.value), uint8_t(l)};
        }
    }
    return t;
}

// Each code twice, with either sign bit, except the end of block and the
// escape, which have none.
void addCoefficients(CoefficientTable& t, std::span<const CoefficientCode> codes) {
    for (const CoefficientCode& c : codes) {
        const mpeg::BitString b = mpeg::parseBits(c.bits);
        const bool signed_ = c.run != kEob && c.run != kEscape;
        for (uint32_t sign = 0; sign < (signed_ ? 2u : 1u); ++sign) {
            const int length = b.length + (signed_ ? 1 : 0);
            const uint32_t code = signed_ ? (b.value << 1) | sign : b.value;
            const Coefficient e{uint8_t(c.run), uint8_t(length),
                                int16_t(sign ? -c.level : c.level)};
            const uint32_t code17 = code << (17 - length);
            if (code17 >= (1u << 11)) {
                // Short code: at most 8 bits and the sign, found by the top 9.
                const uint32_t first = code17 >> 8, n = 1u << (9 - length);
                for (uint32_t i = 0; i < n; ++i) t.codes[first + i] = e;
            } else {
                const uint32_t n = 1u << (17 - length);
                for (uint32_t i = 0; i < n; ++i) t.codes[CoefficientTable::kLongCodes + code17 + i] = e;
            }
        }
    }
}

bool isCoefficient(const Coefficient& c) {
    return c.length != 0 && c.run != kEob && c.run != kEscape;
}

// The pairs from the one-code table: a second code counts only when all its
// bits are among the 10 looked at.
void addPairs(CoefficientTable& t) {
    constexpr int kBits = 10;
    const auto single = [](const Coefficient& c) {
        CoefficientPair e;
        if (!isCoefficient(c)) return e;
        e.skip[0] = uint8_t(c.run + 1);
        e.length = c.length;
        e.level[0] = e.level[1] = c.level;
        return e;
    };
    for (uint32_t v = 0; v < (1u << kBits); ++v) {
        const uint32_t bits = v << (32 - kBits);
        if (bits < (1u << 26)) continue;  // a long code: not found by these bits
        const Coefficient& first = t.lookup(bits);
        CoefficientPair e = single(first);
        if (e.skip[0] != CoefficientPair::kOneCodeTable) {
            const Coefficient& second = t.lookup(bits << first.length);
            if (isCoefficient(second) && first.length + second.length <= kBits) {
                e.skip[1] = uint8_t(second.run + 1);
                e.length = uint8_t(first.length + second.length);
                e.level[1] = second.level;
            }
        }
        t.pairs[v] = e;
    }
    for (uint32_t w = 0; w < 2048; ++w)
        t.pairs[CoefficientTable::kLongPairs + w] = single(t.codes[CoefficientTable::kLongCodes + w]);
}

CoefficientTable buildTableZero() {
    CoefficientTable t{};
    addCoefficients(t, mpeg::kCoefficientsZero);
    addPairs(t);
    return t;
}

CoefficientTable buildNonIntraTable() {
    CoefficientTable t = buildTableZero();
    for (CoefficientPair& p : t.pairs) {
        if (p.skip[0] == CoefficientPair::kOneCodeTable) continue;
        for (int16_t& l : p.level) l = int16_t(l < 0 ? 2 * l - 1 : 2 * l + 1);
    }
    return t;
}

CoefficientTable buildTableOne() {
    CoefficientTable t{};
    addCoefficients(t, mpeg::kCoefficientsOneOwn);
    addCoefficients(t, std::span(mpeg::kCoefficientsZero).last(mpeg::kSharedCoefficientCodes));
    addPairs(t);
    return t;
}

struct Tables {
    std::vector<Entry> mba = build(mpeg::kMacroblockAddressIncrement, 11);
    std::vector<Entry> mbI = build(mpeg::kMacroblockTypeI, 6);
    std::vector<Entry> mbP = build(mpeg::kMacroblockTypeP, 6);
    std::vector<Entry> mbB = build(mpeg::kMacroblockTypeB, 6);
    std::vector<Entry> mbD = build(mpeg::kMacroblockTypeD, 6);
    std::vector<Entry> cbp = build(mpeg::kCodedBlockPattern, 9);
    std::vector<Entry> motion = buildMotion();
    std::vector<Entry> dcLuma = build(mpeg::kDcSizeLuma, 10);
    std::vector<Entry> dcChroma = build(mpeg::kDcSizeChroma, 10);
    CoefficientTable zero = buildTableZero();
    CoefficientTable one = buildTableOne();
    CoefficientTable nonIntra = buildNonIntraTable();
};

const Tables& tables() {
    static const Tables t;
    return t;
}

}  // namespace

const Entry* mbaTable() { return tables().mba.data(); }
const Entry* mbTypeTable(mpeg::PictureType type) {
    switch (type) {
        case mpeg::PictureType::I:
            return tables().mbI.data();
        case mpeg::PictureType::P:
            return tables().mbP.data();
        case mpeg::PictureType::B:
            return tables().mbB.data();
        case mpeg::PictureType::D:
            return tables().mbD.data();
    }
    return nullptr;
}
const Entry* cbpTable() { return tables().cbp.data(); }
const Entry* motionTable() { return tables().motion.data(); }
const Entry* dcLumaTable() { return tables().dcLuma.data(); }
const Entry* dcChromaTable() { return tables().dcChroma.data(); }
const CoefficientTable& coefficientTable(int which) { return which ? tables().one : tables().zero; }
const CoefficientTable& nonIntraCoefficientTable() { return tables().nonIntra; }

}  // namespace zembra::vlc
