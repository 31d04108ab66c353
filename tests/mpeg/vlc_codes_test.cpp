// The code lists of MPEG video: each one must be a prefix code (a typo in a
// bit string makes two codes collide), and the encoder's tables by value
// must decode, through the decoder's lookup tables, to what was written.

#include "mpeg/vlc_codes.h"

#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string>
#include <vector>

#include "decoder/mpeg2_vlc.h"
#include "encoder/vlc_tables.h"

namespace zembra {
namespace {

bool isPrefixCode(const std::vector<std::string>& codes, std::string& clash) {
    for (size_t i = 0; i < codes.size(); ++i) {
        for (size_t j = 0; j < codes.size(); ++j) {
            if (i != j && codes[j].rfind(codes[i], 0) == 0) {
                clash = codes[i] + " / " + codes[j];
                return false;
            }
        }
    }
    return true;
}

std::vector<std::string> bitsOf(std::span<const mpeg::VlcCode> list) {
    std::vector<std::string> v;
    for (const auto& c : list) v.push_back(c.bits);
    return v;
}

std::vector<std::string> bitsOf(std::span<const mpeg::CoefficientCode> list) {
    std::vector<std::string> v;
    for (const auto& c : list) v.push_back(c.bits);
    return v;
}

TEST(VlcCodes, EveryListIsAPrefixCode) {
    const std::pair<const char*, std::vector<std::string>> lists[] = {
        {"address increment", bitsOf(mpeg::kMacroblockAddressIncrement)},
        {"type I", bitsOf(mpeg::kMacroblockTypeI)},
        {"type P", bitsOf(mpeg::kMacroblockTypeP)},
        {"type B", bitsOf(mpeg::kMacroblockTypeB)},
        {"coded block pattern", bitsOf(mpeg::kCodedBlockPattern)},
        {"motion", bitsOf(mpeg::kMotionCode)},
        {"dc luma", bitsOf(mpeg::kDcSizeLuma)},
        {"dc chroma", bitsOf(mpeg::kDcSizeChroma)},
        {"coefficients zero", bitsOf(mpeg::kCoefficientsZero)},
    };
    for (const auto& [name, codes] : lists) {
        std::string clash;
        EXPECT_TRUE(isPrefixCode(codes, clash)) << name << ": " << clash;
    }
    std::vector<std::string> one = bitsOf(mpeg::kCoefficientsOneOwn);
    std::set<std::pair<int, int>> pairsOne, pairsZero;
    for (const auto& c : mpeg::kCoefficientsOneOwn) pairsOne.insert({c.run, c.level});
    for (const auto& c : std::span(mpeg::kCoefficientsZero).last(mpeg::kSharedCoefficientCodes)) {
        one.push_back(c.bits);
        pairsOne.insert({c.run, c.level});
    }
    std::string clash;
    EXPECT_TRUE(isPrefixCode(one, clash)) << "coefficients one: " << clash;
    // Both tables code the same run/level pairs, end of block and escape.
    for (const auto& c : mpeg::kCoefficientsZero) pairsZero.insert({c.run, c.level});
    EXPECT_EQ(pairsOne, pairsZero);
    EXPECT_EQ(one.size(), std::size(mpeg::kCoefficientsZero));
}

// The decoder's entry for the code `c` of length `len` in a table indexed
// by the next `bits` bits.
const vlc::Entry& lookup(const vlc::Entry* table, vlc::Code c, int bits) {
    return table[c.value << (bits - c.length)];
}

TEST(VlcCodes, EncoderTablesDecodeToTheirValues) {
    for (int inc = 1; inc <= 33; ++inc) {
        const vlc::Entry& e = lookup(vlc::mbaTable(), vlc::kAddressIncrement[inc], 11);
        EXPECT_EQ(e.value, inc);
        EXPECT_EQ(e.length, vlc::kAddressIncrement[inc].length);
    }
    for (int cbp = 0; cbp < 64; ++cbp) {
        const vlc::Entry& e = lookup(vlc::cbpTable(), vlc::kCodedBlockPattern[cbp], 9);
        EXPECT_EQ(e.value, cbp);
        EXPECT_EQ(e.length, vlc::kCodedBlockPattern[cbp].length);
    }
    for (int size = 0; size < 12; ++size) {
        EXPECT_EQ(lookup(vlc::dcLumaTable(), vlc::kDcSizeLuma[size], 10).value, size);
        EXPECT_EQ(lookup(vlc::dcChromaTable(), vlc::kDcSizeChroma[size], 10).value, size);
    }
    EXPECT_EQ(lookup(vlc::motionTable(), vlc::kMotionCode[0], 11).value, 0);
    for (int m = 1; m <= 16; ++m) {
        for (int sign = 0; sign < 2; ++sign) {
            const vlc::Code c = vlc::kMotionCode[m];
            const vlc::Code signed_{uint16_t((c.value << 1) | sign), uint8_t(c.length + 1)};
            const vlc::Entry& e = lookup(vlc::motionTable(), signed_, 11);
            EXPECT_EQ(e.value, sign ? -m : m);
            EXPECT_EQ(e.length, signed_.length);
        }
    }
}

TEST(VlcCodes, EveryShortCoefficientCodeDecodesToItsRunAndLevel) {
    int written = 0;
    for (int run = 0; run < 32; ++run) {
        for (int level = 1; level <= 40; ++level) {
            vlc::Code c;
            if (!vlc::dctCoefficient(run, level, c)) continue;
            ++written;
            for (uint32_t sign = 0; sign < 2; ++sign) {
                const uint32_t code = (uint32_t(c.value) << 1) | sign;
                const vlc::Coefficient& d =
                    vlc::coefficientTable(0).lookup(code << (31 - c.length));
                EXPECT_EQ(d.run, run) << run << "/" << level;
                EXPECT_EQ(d.level, sign ? -level : level) << run << "/" << level;
                EXPECT_EQ(d.length, c.length + 1) << run << "/" << level;
            }
        }
    }
    EXPECT_EQ(written, 111);  // table zero without end of block and escape
    vlc::Code none;
    EXPECT_FALSE(vlc::dctCoefficient(32, 1, none));
    EXPECT_FALSE(vlc::dctCoefficient(0, 41, none));
    EXPECT_FALSE(vlc::dctCoefficient(2, 6, none));
}

// Two codes read in one step must be the two codes read one at a time,
// whatever bits follow; a second code that does not end within the bits
// looked at is left for the next step. The table for non-intra blocks
// holds 2 |level| + 1 with the level's sign in their place.
TEST(VlcCodes, CoefficientPairsReadAsTheirCodesOneAtATime) {
    struct Code {
        uint32_t bits;
        int length, run, level;
    };
    const auto codesOf = [](std::span<const mpeg::CoefficientCode> list) {
        std::vector<Code> v;
        for (const auto& c : list) {
            const mpeg::BitString b = mpeg::parseBits(c.bits);
            if (c.run == vlc::kEob || c.run == vlc::kEscape) {
                v.push_back({b.value, b.length, c.run, 0});
                continue;
            }
            for (uint32_t sign = 0; sign < 2; ++sign)
                v.push_back({(b.value << 1) | sign, b.length + 1, c.run,
                             sign ? -c.level : c.level});
        }
        return v;
    };
    std::vector<Code> one = codesOf(mpeg::kCoefficientsOneOwn);
    for (const Code& c :
         codesOf(std::span(mpeg::kCoefficientsZero).last(mpeg::kSharedCoefficientCodes)))
        one.push_back(c);
    const std::vector<Code> lists[2] = {codesOf(mpeg::kCoefficientsZero), one};
    const vlc::CoefficientTable* tables[3] = {&vlc::coefficientTable(0),
                                              &vlc::coefficientTable(1),
                                              &vlc::nonIntraCoefficientTable()};
    int pairs = 0;
    for (int which = 0; which < 3; ++which) {
        const vlc::CoefficientTable& table = *tables[which];
        const std::vector<Code>& list = lists[which == 1 ? 1 : 0];
        const auto stored = [&](int level) {
            return which < 2 ? level : level < 0 ? 2 * level - 1 : 2 * level + 1;
        };
        for (const Code& a : list) {
            for (const Code& b : list) {
                const int both = a.length + b.length;
                if (both > 32) continue;
                for (const uint32_t after : {0u, ~0u}) {
                    const uint32_t bits = (((a.bits << b.length) | b.bits) << (32 - both)) |
                                          (both < 32 ? after >> both : 0);
                    const vlc::CoefficientPair& p = table.lookupPair(bits);
                    const std::string what = std::to_string(which) + ": " +
                                             std::to_string(a.run) + "/" +
                                             std::to_string(a.level) + " " +
                                             std::to_string(b.run) + "/" + std::to_string(b.level);
                    if (a.run == vlc::kEob || a.run == vlc::kEscape) {
                        EXPECT_EQ(p.skip[0], vlc::CoefficientPair::kOneCodeTable) << what;
                        continue;
                    }
                    EXPECT_EQ(p.skip[0], a.run + 1) << what;
                    EXPECT_EQ(p.level[0], stored(a.level)) << what;
                    const bool paired = b.run < vlc::kEob && both <= 10;
                    pairs += paired;
                    EXPECT_EQ(p.length, paired ? both : a.length) << what;
                    EXPECT_EQ(p.skip[1], paired ? b.run + 1 : 0) << what;
                    EXPECT_EQ(p.level[1], stored(paired ? b.level : a.level)) << what;
                }
            }
        }
    }
    EXPECT_GT(pairs, 0);
}

}  // namespace
}  // namespace zembra
