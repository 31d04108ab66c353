// Sub-picture units: assembly over packets, control sequences, run-length
// data, palette choice and the overlay with its edge limits.

#include "decoder/subpicture.h"

#include <gtest/gtest.h>

#include <vector>

namespace zembra {
namespace {

// Writes a DVD sub-picture unit for a bitmap of pixel codes 0..3 with the
// standard run-length codes, lines byte-aligned, a start sequence and a stop
// sequence after `stopDelay` ticks.
class UnitWriter {
public:
    std::vector<uint8_t> bytes;

    std::vector<uint8_t> make(const std::vector<std::vector<int>>& bitmap, int left, int top,
                              uint16_t startDelay, uint16_t stopDelay, uint16_t colours = 0x3210,
                              uint16_t contrast = 0xFFF0, bool withStop = true) {
        bytes.assign(4, 0);
        const int h = int(bitmap.size()), w = int(bitmap[0].size());
        const size_t top0 = bytes.size();
        for (int r = 0; r < h; r += 2) line(bitmap[size_t(r)]);
        const size_t bottom0 = bytes.size();
        for (int r = 1; r < h; r += 2) line(bitmap[size_t(r)]);
        const size_t ctrl = bytes.size();
        const size_t stopAt = ctrl + 4 + 1 + 3 + 3 + 7 + 5 + 1;
        put16(startDelay);
        put16(uint16_t(withStop ? stopAt : ctrl));
        bytes.push_back(0x01);  // start display
        bytes.push_back(3), put16(colours);
        bytes.push_back(4), put16(contrast);
        const int right = left + w - 1, bottom = top + h - 1;
        bytes.push_back(5);
        bytes.push_back(uint8_t(left >> 4));
        bytes.push_back(uint8_t((left & 15) << 4 | right >> 8));
        bytes.push_back(uint8_t(right));
        bytes.push_back(uint8_t(top >> 4));
        bytes.push_back(uint8_t((top & 15) << 4 | bottom >> 8));
        bytes.push_back(uint8_t(bottom));
        bytes.push_back(6), put16(uint16_t(top0)), put16(uint16_t(bottom0));
        bytes.push_back(0xFF);
        if (withStop) {
            EXPECT_EQ(bytes.size(), stopAt);
            put16(stopDelay);
            put16(uint16_t(stopAt));
            bytes.push_back(0x02);
            bytes.push_back(0xFF);
        }
        bytes[0] = uint8_t(bytes.size() >> 8), bytes[1] = uint8_t(bytes.size());
        bytes[2] = uint8_t(ctrl >> 8), bytes[3] = uint8_t(ctrl);
        return bytes;
    }

private:
    void put16(uint16_t v) {
        bytes.push_back(uint8_t(v >> 8));
        bytes.push_back(uint8_t(v));
    }
    void nibble(unsigned n) {
        if (half_) {
            bytes.back() |= uint8_t(n);
            half_ = false;
        } else {
            bytes.push_back(uint8_t(n << 4));
            half_ = true;
        }
    }
    void line(const std::vector<int>& px) {
        size_t x = 0;
        while (x < px.size()) {
            size_t run = 1;
            while (x + run < px.size() && px[x + run] == px[x] && run < 255) ++run;
            const unsigned c = unsigned(px[x]);
            if (x + run == px.size()) {
                for (unsigned n : {0u, 0u, 0u, c}) nibble(n);  // to the end of the line
            } else if (run < 4) {
                nibble(unsigned(run) << 2 | c);
            } else if (run < 16) {
                nibble(unsigned(run) >> 2), nibble((unsigned(run) & 3) << 2 | c);
            } else if (run < 64) {
                nibble(0), nibble(unsigned(run) >> 2), nibble((unsigned(run) & 3) << 2 | c);
            } else {
                const unsigned code = unsigned(run) << 2 | c;
                nibble(0), nibble(code >> 8), nibble((code >> 4) & 15), nibble(code & 15);
            }
            x += run;
        }
        half_ = false;  // lines end on a byte boundary
    }
    bool half_ = false;
};

// A 40 x 6 bitmap: a frame of code 1, a bar of code 2 inside, code 0 around.
std::vector<std::vector<int>> testBitmap() {
    std::vector<std::vector<int>> b(6, std::vector<int>(40, 0));
    for (int x = 5; x < 35; ++x) b[1][size_t(x)] = 1, b[4][size_t(x)] = 1;
    for (int x = 10; x < 30; ++x) b[2][size_t(x)] = 2, b[3][size_t(x)] = 2;
    b[3][0] = 3;  // a lone pixel of code 3
    return b;
}

SubpicturePalette titlePalette() {
    SubpicturePalette p{};
    for (int i = 0; i < 16; ++i)
        p[size_t(i)] = {uint8_t(20 + 10 * i), uint8_t(100 + i), uint8_t(60 + i)};
    return p;
}

TEST(Subpicture, DecodesBitmapWindowAndPalette) {
    const auto pal = titlePalette();
    Subpicture sp;
    sp.open(720, 576, {0, true, &pal});
    UnitWriter w;
    // Colours: code 0 -> entry 0, 1 -> 5, 2 -> 9, 3 -> 14; contrast 0 for code 0.
    auto unit = w.make(testBitmap(), 100, 400, 88, 176, 0xE950, 0xFFF0);
    sp.subpictureAddPayload(unit.data(), unit.size(), 10.0);
    ASSERT_EQ(sp.unitsDecoded(), 1);
    EXPECT_DOUBLE_EQ(sp.start(), 11.0);
    EXPECT_DOUBLE_EQ(sp.end(), 12.3);
    EXPECT_EQ(sp.topRow(), 401);
    EXPECT_EQ(sp.bottomRow(), 404);
    EXPECT_EQ(sp.alphaAt(104, 401), 0);
    EXPECT_EQ(sp.alphaAt(105, 401), 240);
    EXPECT_EQ(sp.lumaAt(105, 401), 20 + 50);   // entry 5
    EXPECT_EQ(sp.lumaAt(115, 402), 20 + 90);   // entry 9
    EXPECT_EQ(sp.lumaAt(100, 403), 20 + 140);  // entry 14
    EXPECT_EQ(sp.alphaAt(135, 401), 0);
    EXPECT_TRUE(sp.covers(11.0));
    EXPECT_TRUE(sp.covers(12.3));
    EXPECT_FALSE(sp.covers(10.99));
    EXPECT_FALSE(sp.covers(12.31));

    // SubColor off: code colours other than entry 0 are white.
    Subpicture white;
    white.open(720, 576, {0, false, &pal});
    white.subpictureAddPayload(unit.data(), unit.size(), 0.0);
    EXPECT_EQ(white.lumaAt(105, 401), 255);
    EXPECT_EQ(white.lumaAt(115, 402), 255);
    // Even when the unit draws its pattern with palette entry 0.
    auto entryZero = w.make(testBitmap(), 100, 400, 0, 88, 0x0000, 0x00F0);
    white.subpictureAddPayload(entryZero.data(), entryZero.size(), 0.0);
    EXPECT_EQ(white.alphaAt(105, 401), 240);
    EXPECT_EQ(white.lumaAt(105, 401), 255);
    sp.subpictureAddPayload(entryZero.data(), entryZero.size(), 0.0);
    EXPECT_EQ(sp.lumaAt(105, 401), 20);
}

TEST(Subpicture, UnitSplitOverPacketsAndSharedPacket) {
    const auto pal = titlePalette();
    UnitWriter w;
    auto first = w.make(testBitmap(), 100, 400, 0, 88);
    auto second = w.make(testBitmap(), 200, 300, 176, 264);

    Subpicture sp;
    sp.open(720, 576, {0, true, &pal});
    // The first unit in three pieces, the last of which also starts the second.
    std::vector<uint8_t> stream = first;
    stream.insert(stream.end(), second.begin(), second.end());
    const size_t cut1 = 3, cut2 = first.size() - 5, cut3 = first.size() + 7;
    sp.subpictureAddPayload(stream.data(), cut1, 0.0);
    sp.subpictureAddPayload(stream.data() + cut1, cut2 - cut1, 0.0);
    EXPECT_EQ(sp.unitsDecoded(), 0);
    sp.subpictureAddPayload(stream.data() + cut2, cut3 - cut2, 0.0);
    EXPECT_EQ(sp.unitsDecoded(), 1);
    EXPECT_EQ(sp.topRow(), 401);
    sp.subpictureAddPayload(stream.data() + cut3, stream.size() - cut3, 5.0);
    EXPECT_EQ(sp.unitsDecoded(), 2);
    EXPECT_EQ(sp.topRow(), 301);
    EXPECT_EQ(sp.alphaAt(205, 301), 240);
    EXPECT_DOUBLE_EQ(sp.start(), 7.0);
}

TEST(Subpicture, HostileUnitsStayInBounds) {
    Subpicture sp;
    sp.open(64, 32, {});
    UnitWriter w;
    // Display area far outside the picture, and a unit whose stop sequence
    // is missing (it stays up until replaced).
    auto unit = w.make(testBitmap(), 4000, 4000, 0, 0, 0x3210, 0xFFF0, false);
    sp.subpictureAddPayload(unit.data(), unit.size(), 0.0);
    EXPECT_EQ(sp.unitsDecoded(), 1);
    EXPECT_EQ(sp.topRow(), -1);
    EXPECT_FALSE(sp.covers(1.0));
    auto partly = w.make(testBitmap(), 40, 28, 0, 0, 0x3210, 0xFFF0, false);
    sp.subpictureAddPayload(partly.data(), partly.size(), 0.0);
    EXPECT_EQ(sp.topRow(), 29);
    EXPECT_EQ(sp.bottomRow(), 31);
    EXPECT_TRUE(sp.covers(1e9));
    // Truncated data, a control offset past the end, a backwards link.
    std::vector<uint8_t> junk = {0x00, 0x10, 0x00, 0x40, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    sp.subpictureAddPayload(junk.data(), junk.size(), 0.0);
    std::vector<uint8_t> loop = {0x00, 0x0C, 0x00, 0x04, 0, 0, 0, 4, 0x06, 0, 0, 0xFF};
    sp.subpictureAddPayload(loop.data(), loop.size(), 0.0);
    std::vector<uint8_t> tiny = {0x00, 0x01, 0xAA};
    sp.subpictureAddPayload(tiny.data(), tiny.size(), 0.0);
}

TEST(Subpicture, OverlayKeepsTenRowsFromEdgesAndBlendsChroma) {
    const auto pal = titlePalette();
    UnitWriter w;
    auto unit = w.make(testBitmap(), 100, 560, 0, 88);  // rows 561..564 covered
    for (int subOffset : {0, 20, -700}) {
        Subpicture sp;
        sp.open(720, 576, {subOffset, true, &pal});
        sp.subpictureAddPayload(unit.data(), unit.size(), 0.0);
        const PlaneLayout l = PlaneLayout::make(720, 576, 1);
        std::vector<uint8_t> y(l.planeSize(0), 16), cb(l.planeSize(1), 128),
            cr(l.planeSize(2), 128);
        sp.overlaySubpicture(y.data(), cb.data(), cr.data(), l);
        // Moved up so the bottom covered row lands on row 576 - 10 - 1... or
        // down to stay 10 rows below the top.
        int offset = subOffset;
        if (offset + 564 >= 566) offset = 576 - 564 - 10;
        if (offset + 561 <= 10) offset = 10 - 561;
        const int row = 561 + offset;  // the frame row of code 1
        const float a = 240 / 255.0f;
        EXPECT_EQ(y[size_t(row) * 720 + 105], uint8_t(a * 30 + (1 - a) * 16))
            << subOffset;  // entry 1
        EXPECT_EQ(y[size_t(row - 1) * 720 + 105], 16);
        EXPECT_EQ(y[size_t(row + 4) * 720 + 105], 16);
        // Chroma: every second row from the first covered one, even columns.
        const int crow = row / 2;
        EXPECT_EQ(cb[size_t(crow) * 360 + 53], uint8_t(a * 61 + (1 - a) * 128));
        EXPECT_EQ(cr[size_t(crow) * 360 + 53], uint8_t(a * 101 + (1 - a) * 128));
        EXPECT_EQ(cb[size_t(crow) * 360 + 50], 128);
    }
}

}  // namespace
}  // namespace zembra
