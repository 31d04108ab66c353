// Colour conversion: the fixed-point values, layouts and chroma upsampling.

#include "decoder/colour_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "support/recording_host.h"

namespace zembra {
namespace {

struct Flat {
    std::vector<uint8_t> y, cb, cr;
    Flat(int w, int h, uint8_t vy, uint8_t vcb, uint8_t vcr)
        : y(size_t(w * h), vy), cb(size_t((w / 2) * (h / 2)), vcb), cr(cb.size(), vcr) {}
};

TEST(ColourConvert, BlackAndWhiteLevels) {
    Flat black(8, 2, 16, 128, 128), white(8, 2, 235, 128, 128);
    auto b32 = convertToRgb32(black.y.data(), black.cb.data(), black.cr.data(), 8, 2);
    auto b24 = convertToRgb24(black.y.data(), black.cb.data(), black.cr.data(), 8, 2);
    auto w32 = convertToRgb32(white.y.data(), white.cb.data(), white.cr.data(), 8, 2);
    auto w24 = convertToRgb24(white.y.data(), white.cb.data(), white.cr.data(), 8, 2);
    ASSERT_EQ(b32.size(), 8u * 2 * 4);
    ASSERT_EQ(b24.size(), 8u * 2 * 3 + 4);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(b32[size_t(c)], 0);
        EXPECT_EQ(b24[size_t(c)], 16);
        EXPECT_EQ(w32[size_t(c)], 219);
        EXPECT_EQ(w24[size_t(c)], 235);
    }
}

TEST(ColourConvert, PrimariesMatchTheFormulaAndRowsAreBottomUp) {
    // Top row saturated red-ish chroma, bottom row blue-ish.
    const int w = 16, h = 2;
    std::vector<uint8_t> y(size_t(w * h), 100), cb(size_t(w / 2), 60), cr(size_t(w / 2), 220);
    for (int x = 0; x < w; ++x) y[size_t(w + x)] = 50;  // bottom row darker
    auto out = convertToRgb32(y.data(), cb.data(), cr.data(), w, h);
    const auto expect = [](int Y, int Cb, int Cr, int off) {
        const int y0 = (Y - off) * 8192 + 4096;
        auto cl = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
        return std::vector<int>{cl((y0 + 14516 * (Cb - 128)) >> 13),
                                cl((y0 - 2819 * (Cb - 128) - 5850 * (Cr - 128)) >> 13),
                                cl((y0 + 11485 * (Cr - 128)) >> 13)};
    };
    // First stored row is the bottom picture row (Y = 50).
    auto bottom = expect(50, 60, 220, 16), top = expect(100, 60, 220, 16);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(out[size_t(c)], bottom[size_t(c)]);
        EXPECT_EQ(out[size_t(w * 4 + c)], top[size_t(c)]);
    }
    auto out24 = convertToRgb24(y.data(), cb.data(), cr.data(), w, h);
    auto bottom24 = expect(50, 60, 220, 0);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(out24[size_t(3 + c)], bottom24[size_t(c)]);
}

TEST(ColourConvert, ChromaUpsampling) {
    // 4 x 4 picture, chroma 2 x 2.
    const uint8_t c[4] = {10, 21, 100, 200};
    auto full = upsampleChroma(c, 4, 4, 1);
    const uint8_t expected[16] = {10,  15,  21,  21,   // c[0], (10+21)>>1, c[1], last repeats
                                  55,  82,  110, 110,  // between rows: (above + below) >> 1
                                  100, 150, 200, 200,
                                  100, 150, 200, 200};  // last row repeats the one above
    for (int i = 0; i < 16; ++i) EXPECT_EQ(full[size_t(i)], expected[i]) << i;
    // 4:2:2 only horizontally, 4:4:4 as is.
    auto h422 = upsampleChroma(c, 4, 2, 2);
    EXPECT_EQ(h422[5], 150);
    auto f444 = upsampleChroma(c, 2, 2, 3);
    EXPECT_EQ(std::vector<uint8_t>(f444.begin(), f444.end()), std::vector<uint8_t>(c, c + 4));
}

TEST(ColourConvert, RowPipelineMatchesFullPlaneUpsampling) {
    std::mt19937 rng(9);
    for (auto [w, h, fmt] :
         {std::tuple{18, 7, 1}, std::tuple{48, 10, 1}, std::tuple{16, 5, 2}, std::tuple{8, 3, 3}}) {
        const int cw = fmt == 3 ? w : (w + 1) / 2, ch = fmt == 1 ? (h + 1) / 2 : h;
        std::vector<uint8_t> y(size_t(w * h)), cb(size_t(cw * ch)), cr(cb.size());
        for (auto* v : {&y, &cb, &cr})
            for (auto& b : *v) b = uint8_t(rng());
        const auto fcb = upsampleChroma(cb.data(), w, h, fmt);
        const auto fcr = upsampleChroma(cr.data(), w, h, fmt);
        const auto rgb = convertToRgb32(y.data(), cb.data(), cr.data(), w, h, fmt);
        for (int row = 0; row < h; ++row)
            for (int x = 0; x < w; ++x) {
                const size_t at = size_t(row * w + x);
                const int y0 = (y[at] - 16) * 8192 + 4096, u = fcb[at] - 128, v = fcr[at] - 128;
                const uint8_t* px = &rgb[size_t(((h - 1 - row) * w + x) * 4)];
                ASSERT_EQ(px[0], std::clamp((y0 + 14516 * u) >> 13, 0, 255)) << w << " " << row;
                ASSERT_EQ(px[1], std::clamp((y0 - 2819 * u - 5850 * v) >> 13, 0, 255));
                ASSERT_EQ(px[2], std::clamp((y0 + 11485 * v) >> 13, 0, 255));
            }
    }
}

TEST(ColourConvert, Yuy2LayoutAndRowRounding) {
    const int w = 4, h = 4;
    std::vector<uint8_t> y(16);
    for (int i = 0; i < 16; ++i) y[size_t(i)] = uint8_t(i);
    const uint8_t cb[4] = {10, 20, 31, 40}, cr[4] = {50, 60, 71, 80};
    auto out = convertToYuy2(y.data(), cb, cr, w, h, 1);
    ASSERT_EQ(out.size(), size_t(w * h * 2));
    // Row 0: Y0 Cb Y1 Cr per pixel pair, top-down.
    const uint8_t row0[8] = {0, 10, 1, 50, 2, 20, 3, 60};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[size_t(i)], row0[i]);
    // Row 1 between chroma rows: (10 + 31) >> 1 = 20; with IdctVariant 2 rounded up.
    EXPECT_EQ(out[8 + 1], 20);
    EXPECT_EQ(out[8 + 3], 60);
    auto up = convertToYuy2(y.data(), cb, cr, w, h, 2);
    EXPECT_EQ(up[8 + 1], 21);
    EXPECT_EQ(up[8 + 3], 61);
    // Last row repeats the row above it.
    EXPECT_EQ(out[24 + 1], 31);
    EXPECT_EQ(out[24 + 4], 14);
}

TEST(ColourConvert, Yv12IsRefused) {
    Flat f(8, 2, 16, 128, 128);
    std::vector<uint8_t> out{1, 2, 3};
    const Status refused =
        convertForExport(ExportFormat::Yv12, f.y.data(), f.cb.data(), f.cr.data(), 8, 2, 1, 1, out);
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(refused.kind(), BoxKind::Error);
    EXPECT_EQ(refused.key(), "STR_ERROR_508");
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(
        convertForExport(ExportFormat::Rgb24, f.y.data(), f.cb.data(), f.cr.data(), 8, 2, 1, 1, out)
            .ok());
    EXPECT_EQ(out.size(), 8u * 2 * 3 + 4);
}

}  // namespace
}  // namespace zembra
