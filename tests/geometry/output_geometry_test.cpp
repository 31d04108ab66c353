// Output geometry: crop to pixels, zoom bands, copy path, kernels and their
// agreement, and hostile crops.

#include "geometry/output_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "geometry/scale_kernels.h"
#include "support/cpu_levels.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

struct Planes {
    int w, h;
    std::vector<uint8_t> p[3];
    Planes(int width, int height, uint8_t fill = 0) : w(width), h(height) {
        p[0].assign(size_t(w * h), fill);
        p[1].assign(size_t(((w + 1) / 2) * ((h + 1) / 2)), 128);
        p[2].assign(p[1].size(), 128);
    }
    const uint8_t* const* in() const {
        c[0] = p[0].data(), c[1] = p[1].data(), c[2] = p[2].data();
        return c;
    }
    uint8_t* const* out() {
        m[0] = p[0].data(), m[1] = p[1].data(), m[2] = p[2].data();
        return m;
    }
    uint8_t y(int x, int row) const { return p[0][size_t(row * w + x)]; }
    mutable const uint8_t* c[3];
    uint8_t* m[3];
};

Planes gradient(int w, int h) {
    Planes s(w, h);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) s.p[0][size_t(r * w + x)] = uint8_t(40 + (x + r) % 160);
    return s;
}

GeometryParams params(int ratio, int resize, int w = 720, int h = 576) {
    GeometryParams g;
    g.width = w;
    g.height = h;
    g.ratio = ratio;
    g.videoResize = resize;
    return g;
}

TEST(Geometry, CropFractionsToPixels) {
    EXPECT_EQ(cropToPixelsX(720, 0.0), 0);
    EXPECT_EQ(cropToPixelsX(720, 1.0), 720);
    EXPECT_EQ(cropToPixelsX(720, 0.1), 72);  // trunc(73 / 4) * 4
    EXPECT_EQ(cropToPixelsX(720, 0.105), 76);
    EXPECT_EQ(cropToPixelsY(576, 0.5), 288);
    EXPECT_EQ(cropToPixelsY(576, 0.2), 116);  // trunc(116.2) / 2 * 2
    EXPECT_EQ(cropToPixelsY(576, -40.0 / 576), -38);
    // Nonsense from options.ini is held to a few picture sizes, never an
    // undefined conversion.
    EXPECT_EQ(cropToPixelsX(720, 1e300), 8 * 720);
    EXPECT_EQ(cropToPixelsY(576, -1e300), (-8 * 576 + 1) / 2 * 2);
    EXPECT_EQ(cropToPixelsX(720, std::nan("")), 0);
}

TEST(Geometry, LetterboxBandsAndBandColour) {
    const Planes src = gradient(720, 576);
    for (int resize : {0, 1, 2, 3, 4, 5, 6}) {
        OutputGeometry g;
        GeometryParams p = params(0, resize);
        p.luminanceFilter = true;
        p.luminanceGain = 256;
        ASSERT_TRUE(g.prepare(p));
        EXPECT_EQ(g.luma().top, 92);
        EXPECT_EQ(g.luma().bottom, 483);
        Planes out(720, 576, 99);
        g.apply(src.in(), out.out());
        for (int x : {0, 300, 719}) {
            EXPECT_EQ(out.y(x, 0), 32);
            EXPECT_EQ(out.y(x, 91), 32);
            EXPECT_NE(out.y(x, 92), 32) << resize;
            EXPECT_EQ(out.y(x, 483), 32);
            EXPECT_EQ(out.y(x, 575), 32);
        }
        EXPECT_EQ(out.p[1][0], 128);
    }
    // Filter off: the usual black.
    OutputGeometry g;
    ASSERT_TRUE(g.prepare(params(1, 2)));
    Planes out(720, 576, 99);
    g.apply(src.in(), out.out());
    EXPECT_EQ(out.y(0, 0), 16);
    EXPECT_EQ(g.luma().top, 46);  // trunc(576 * 0.16 / 2)
}

TEST(Geometry, CopyPathAndCustomTopBand) {
    const Planes src = gradient(720, 576);
    OutputGeometry g;
    ASSERT_TRUE(g.prepare(params(3, 2)));
    EXPECT_TRUE(g.copyPath());
    Planes out(720, 576);
    g.apply(src.in(), out.out());
    EXPECT_EQ(out.p[0], src.p[0]);

    // Custom crop reaching 40 rows above the picture: a band at the top whose
    // height follows the part of the crop outside the picture.
    GeometryParams p = params(4, 2, 352, 288);
    p.y1 = -40.0 / 576;
    ASSERT_TRUE(g.prepare(p));
    EXPECT_FALSE(g.copyPath());
    const int band = g.luma().top;
    EXPECT_EQ(band, int(38.0 / (576 + 38) * 288));
    Planes small(352, 288, 99);
    g.apply(src.in(), small.out());
    EXPECT_EQ(small.y(100, band - 1), 16);
    EXPECT_NE(small.y(100, band), 16);

    // Custom crop of exactly the output size inside the picture: copied.
    GeometryParams c = params(4, 2, 352, 288);
    c.x1 = 100.0 / 720, c.x2 = 452.0 / 720, c.y1 = 100.0 / 576, c.y2 = 388.0 / 576;
    ASSERT_TRUE(g.prepare(c));
    ASSERT_TRUE(g.copyPath());
    g.apply(src.in(), small.out());
    EXPECT_EQ(small.y(0, 0), src.y(g.cropX1(), g.cropY1()));
    EXPECT_EQ(small.y(351, 287), src.y(g.cropX1() + 351, g.cropY1() + 287));
}

// A rip hands the source picture itself to the encoder when the geometry
// says it would only copy it: that must hold exactly when the copy is the
// source, chroma included, and never for a shifted or banded picture.
TEST(Geometry, PassesThroughOnlyWhenTheCopyIsTheSource) {
    Planes src = gradient(720, 576);
    for (size_t i = 0; i < src.p[1].size(); ++i) {
        src.p[1][i] = uint8_t(30 + i % 190);
        src.p[2][i] = uint8_t(200 - i % 170);
    }
    struct Case {
        int ratio, w, h;
        double x1, x2, y1, y2;
        bool through;
    };
    const Case cases[] = {
        {3, 720, 576, 0, 1, 0, 1, true},
        {4, 720, 576, 0, 1, 0, 1, true},
        {4, 720, 576, 0, 1, -40.0 / 576, 536.0 / 576, false},  // a band on top
        {4, 720, 576, 8.0 / 720, 728.0 / 720, 0, 1, false},     // shifted sideways
        {4, 704, 576, 0, 704.0 / 720, 0, 1, false},             // narrower rows
        {3, 704, 576, 0, 1, 0, 1, false},
        {0, 720, 576, 0, 1, 0, 1, false},
    };
    for (const Case& c : cases) {
        OutputGeometry g;
        GeometryParams p = params(c.ratio, 2, c.w, c.h);
        p.x1 = c.x1, p.x2 = c.x2, p.y1 = c.y1, p.y2 = c.y2;
        ASSERT_TRUE(g.prepare(p));
        EXPECT_EQ(g.passesThrough(), c.through) << c.ratio << " " << c.w << " " << c.x1;
        if (!c.through) continue;
        Planes out(c.w, c.h, 7);
        g.apply(src.in(), out.out());
        for (int plane = 0; plane < 3; ++plane) EXPECT_EQ(out.p[plane], src.p[plane]);
    }
    EXPECT_FALSE(OutputGeometry().passesThrough());
}

TEST(Geometry, InvalidDimensionAndHostileCrops) {
    testing::RecordingHost host;
    OutputGeometry g;
    const Status zero = g.prepare(params(0, 2, 0, 288));
    EXPECT_FALSE(zero);
    host.show(zero);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(host.boxes[0].text.rfind("Invalid output Dimension. ", 0), 0u);
    EXPECT_FALSE(g.ready());
    // Sides no output carries are refused before any table is allocated
    // (2147483647 used to end the program with std::bad_alloc).
    for (int side : {kMaxOutputSide + 1, 65536, 2147483647}) {
        EXPECT_EQ(g.prepare(params(0, 2, side, 288)).key(), "STR_ERROR_9") << side;
        EXPECT_EQ(g.prepare(params(3, 9, 352, side)).key(), "STR_ERROR_9") << side;
        EXPECT_FALSE(g.ready());
    }
    GeometryParams tiny = params(0, 2, 352, 288);
    tiny.sourceWidth = 4;  // no picture to scale from
    EXPECT_EQ(g.prepare(tiny).key(), "STR_ERROR_9");
    EXPECT_TRUE(g.prepare(params(0, 2, kMaxOutputSide / 16 * 16, 288)));

    const Planes src = gradient(720, 576);
    const double crops[][4] = {{-5, 7, -3, 9}, {0.9, 0.1, 0.8, 0.2}, {0, 1, 1.5, 3},
                               {0, 1, -3, -2}, {0.99, 1, 0, 1},      {-0.5, 1.5, -0.5, 1.5}};
    for (const auto& c : crops) {
        for (int resize : {0, 2, 5, 9, 12}) {
            GeometryParams p = params(4, resize, 360, 240);
            p.x1 = c[0], p.x2 = c[1], p.y1 = c[2], p.y2 = c[3];
            ASSERT_TRUE(g.prepare(p));
            Planes out(360, 240);
            g.apply(src.in(), out.out());  // must stay inside the planes (ASan)
        }
    }
}

TEST(Geometry, KernelsKeepFlatPicturesFlatAndTwoStageSizes) {
    Planes flat(720, 576, 77);
    for (int ratio : {0, 2, 3}) {
        for (int resize = 0; resize < kVideoResizeCount; ++resize) {
            OutputGeometry g;
            ASSERT_TRUE(g.prepare(params(ratio, resize, 352, 288)));
            Planes out(352, 288, 0);
            g.apply(flat.in(), out.out());
            const int top = g.luma(g.stageCount() - 1).top;
            // Rows between the bands are written by every VideoResize (4 and
            // 10 included) and keep the flat value.
            EXPECT_EQ(out.y(0, 144), 77) << ratio << " " << resize;
            EXPECT_EQ(out.y(351, 144), 77) << ratio << " " << resize;
            EXPECT_GE(top, 0);
        }
    }
    OutputGeometry g;
    ASSERT_TRUE(g.prepare(params(3, 8, 352, 288)));
    ASSERT_EQ(g.stageCount(), 2);
    EXPECT_EQ(g.luma(0).outWidth, 536);  // 352 + 184, multiple of 4
    EXPECT_EQ(g.luma(0).outHeight, 432);
    ASSERT_TRUE(g.prepare(params(3, 10, 350, 288)));
    EXPECT_EQ(g.luma(0).outWidth, 528);  // 535 down to a multiple of 8
    ASSERT_TRUE(g.prepare(params(3, 7, 350, 288)));
    EXPECT_EQ(g.luma(0).outWidth, 535);
}

TEST(Geometry, PanScanTakesTheMiddleTwoThirds) {
    // Left third dark, middle bright, right third dark.
    Planes src(720, 576);
    for (int r = 0; r < 576; ++r)
        for (int x = 0; x < 720; ++x)
            src.p[0][size_t(r * 720 + x)] = x >= 250 && x < 470 ? 200 : 30;
    OutputGeometry g;
    ASSERT_TRUE(g.prepare(params(2, 2, 480, 576)));
    Planes out(480, 576);
    g.apply(src.in(), out.out());
    EXPECT_EQ(out.y(240, 300), 200);
    EXPECT_EQ(out.y(0, 300), 30);
    EXPECT_EQ(out.y(479, 300), 30);
    // The output starts at source column 120.5 with steps of 0.996, so column
    // 250 lands near output column 130.
    int firstBright = -1;
    for (int x = 0; x < 480; ++x)
        if (out.y(x, 300) > 115) {
            firstBright = x;
            break;
        }
    EXPECT_NEAR(firstBright, 130, 1);
}

TEST(ScaleKernels, SimdAgreesWithPlain) {
    const ScaleKernels plain = makeScaleKernels(CpuLevel::Plain);
    std::mt19937 rng(5);
    for (CpuLevel level : testing::simdLevels()) {
        SCOPED_TRACE(cpuLevelName(level));
        const ScaleKernels simd = makeScaleKernels(level);
        for (int n : {1, 15, 16, 17, 31, 32, 33, 48, 100, 721}) {
            std::vector<uint8_t> rows[4];
            for (auto& r : rows) {
                r.resize(size_t(n));
                for (auto& b : r) b = uint8_t(rng());
            }
            rows[3].assign(size_t(n), 255);
            std::vector<uint16_t> a(size_t(n) + 8, 0xBEEF), b(size_t(n) + 8, 0xBEEF);
            for (int f : {0, 1, 128, 255}) {
                plain.blend2(rows[0].data(), rows[3].data(), f, a.data(), n);
                simd.blend2(rows[0].data(), rows[3].data(), f, b.data(), n);
                EXPECT_EQ(a, b);
                const uint8_t* taps[4] = {rows[0].data(), rows[1].data(), rows[2].data(),
                                          rows[3].data()};
                plain.blend4(taps, bsplineWeights(f), a.data(), n);
                simd.blend4(taps, bsplineWeights(f), b.data(), n);
                EXPECT_EQ(a, b);
            }
            EXPECT_EQ(b[size_t(n)], 0xBEEF);
        }
    }
    for (int f = 0; f < 256; ++f) {
        const int* w = bsplineWeights(f);
        EXPECT_EQ(w[0] + w[1] + w[2] + w[3], 256);
        for (int k = 0; k < 4; ++k) EXPECT_GE(w[k], 0);
    }
    EXPECT_EQ(bsplineWeights(0)[0], 43);  // 1/6, 4/6, 1/6, 0
    EXPECT_EQ(bsplineWeights(0)[1], 170);
}

// Taps as the scaler makes them for a 16.16 step over `cols` columns.
HorizontalTaps stepTaps(int taps, int cols, int outWidth, int step) {
    std::vector<int> columns;
    std::vector<int16_t> weights;
    const auto at = [&](int i) { return std::clamp(i, 0, cols - 1); };
    for (int x = 0; x < outWidth; ++x) {
        const int64_t w = 65537 + int64_t(x) * step;
        const int c = at(int(w >> 16)), f = int((w >> 8) & 255);
        if (taps == 2) {
            columns.insert(columns.end(), {c, at(c + 1)});
            weights.insert(weights.end(), {int16_t(256 - f), int16_t(f)});
        } else {
            const int* bw = bsplineWeights(f);
            for (int k = 0; k < 4; ++k) {
                columns.push_back(at(c - 1 + k));
                weights.push_back(int16_t(bw[k]));
            }
        }
    }
    HorizontalTaps h;
    h.build(taps, outWidth, std::move(columns), std::move(weights));
    return h;
}

void horizontalPassAgreesWithPlain(const ScaleKernels& plain, CpuLevel level) {
    SCOPED_TRACE(cpuLevelName(level));
    const ScaleKernels simd = makeScaleKernels(level);
    std::mt19937 rng(9);
    // Down and up by several factors (SVCD 720 -> 480, VCD -> 352, DVD
    // 720 -> 704, 2x up, and a step too wide for a group), widths that
    // leave pixels after the last group, both tap counts.
    struct Case {
        int cols, outWidth;
    };
    for (const Case c : {Case{720, 480}, Case{720, 352}, Case{360, 240}, Case{717, 703},
                         Case{100, 203}, Case{720, 65}, Case{9, 5}, Case{1, 3}}) {
        for (int taps : {2, 4}) {
            const int step = int((c.cols - 3) * 65536.0 / c.outWidth);
            const HorizontalTaps h = stepTaps(taps, c.cols, c.outWidth, std::max(step, 0));
            std::vector<uint16_t> tmp(size_t(c.cols) + 16);
            for (int round = 0; round < 4; ++round) {
                // Real rows hold at most 255 x 256; the extremes as well.
                for (auto& v : tmp)
                    v = round == 0 ? 0 : round == 1 ? 65280 : uint16_t(rng() % 65281);
                std::vector<uint8_t> a(size_t(c.outWidth) + 4, 0xA5), b = a;
                plain.horizontal(tmp.data(), h, a.data());
                simd.horizontal(tmp.data(), h, b.data());
                EXPECT_EQ(a, b) << c.cols << " -> " << c.outWidth << ", " << taps << " taps";
                EXPECT_EQ(b[size_t(c.outWidth)], 0xA5);  // nothing past the row
            }
        }
    }
    // Groups whose weights do not sum to 256 keep to the plain path, also
    // among groups that take the vector paths.
    std::vector<int> columns = {0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8};
    std::vector<int16_t> weights = {256, 256, 0, 0,   128, 128, 1,   2,
                                    200, 56,  0, 256, 10,  246, 255, 1};
    for (int x = 8; x < 40; ++x) {
        columns.insert(columns.end(), {x, x + 1});
        weights.insert(weights.end(), {int16_t(256 - 7 * x), int16_t(7 * x)});
    }
    HorizontalTaps odd;
    odd.build(2, 40, columns, weights);
    std::vector<uint16_t> tmp(64);
    for (size_t i = 0; i < tmp.size(); ++i) tmp[i] = uint16_t(1000 * i + 77);
    std::vector<uint8_t> a(40), b(40);
    plain.horizontal(tmp.data(), odd, a.data());
    simd.horizontal(tmp.data(), odd, b.data());
    EXPECT_EQ(a, b);
    EXPECT_EQ(odd.groups[0].fits, 0);
    EXPECT_EQ(odd.groups[1].fits, 2);  // columns 4..8: one shuffle
    // Two-tap shrinks pair all their groups (an odd count of pairs at
    // 100 -> 203 too); a row with a group that needs two shuffles or the
    // plain path pairs none.
    EXPECT_EQ(stepTaps(2, 720, 480, int(717 * 65536.0 / 480)).pairs.size(), 60u);
    EXPECT_EQ(stepTaps(2, 100, 203, int(97 * 65536.0 / 203)).pairs.size(), 25u);
    EXPECT_TRUE(stepTaps(4, 720, 480, int(717 * 65536.0 / 480)).pairs.empty());
    EXPECT_TRUE(odd.pairs.empty());
    // 720 -> 352 takes both vector forms (and the plain one for none).
    int forms[3] = {};
    for (const auto& g : stepTaps(2, 720, 352, int(717 * 65536.0 / 352)).groups) ++forms[g.fits];
    EXPECT_EQ(forms[0], 0);
    EXPECT_GT(forms[1], 0);
    EXPECT_GT(forms[2], 0);
}

TEST(ScaleKernels, HorizontalPassSimdAgreesWithPlain) {
    const ScaleKernels plain = makeScaleKernels(CpuLevel::Plain);
    if (machineCpuLevel() < CpuLevel::Ssse3) GTEST_SKIP() << "no SSSE3 here";
    for (CpuLevel level : testing::simdLevels()) {
        if (level >= CpuLevel::Ssse3) horizontalPassAgreesWithPlain(plain, level);
    }
}

// The Lanczos kernel's passes, with the taps the scaler makes, at every
// level against the plain ones: shrinking (SVCD, VCD, a tiny output),
// enlarging, the identity, and planes narrower than the kernel.
TEST(ScaleKernels, SincPassesSimdAgreeWithPlain) {
    const ScaleKernels plain = makeScaleKernels(CpuLevel::Plain);
    std::mt19937 rng(13);
    struct Case {
        int size, count;
    };
    const Case cases[] = {{720, 480}, {720, 352}, {576, 288}, {360, 720}, {720, 720},
                          {720, 16},  {9, 5},     {1, 3},     {17, 33}};
    for (CpuLevel level : testing::simdLevels()) {
        SCOPED_TRACE(cpuLevelName(level));
        const ScaleKernels simd = makeScaleKernels(level);
        for (const Case c : cases) {
            const SincTaps t = lanczosTaps(c.size, 0.0, c.size, c.count);
            // Vertical: the taps of a few output rows over random rows of
            // widths that leave values after the last vector.
            for (int n : {1, 7, 8, 15, 16, 17, 33, 721}) {
                std::vector<std::vector<uint8_t>> rows(size_t(t.taps),
                                                       std::vector<uint8_t>(size_t(n)));
                std::vector<const uint8_t*> at;
                for (auto& r : rows) {
                    for (auto& b : r) b = rng() % 3 ? uint8_t(rng()) : uint8_t(rng() & 1 ? 255 : 0);
                    at.push_back(r.data());
                }
                for (int o : {0, c.count / 2, c.count - 1}) {
                    const int16_t* w = t.weight.data() + size_t(o) * size_t(t.stride);
                    std::vector<int16_t> a(size_t(n) + 8, 0x5EED), b = a;
                    plain.blendSinc(at.data(), w, t.taps, a.data(), n);
                    simd.blendSinc(at.data(), w, t.taps, b.data(), n);
                    EXPECT_EQ(a, b) << c.size << " -> " << c.count << ", row " << o << ", " << n;
                }
            }
            // Horizontal: values as the vertical pass leaves them, with
            // the overshoot of the negative lobes on either side.
            std::vector<int16_t> tmp(size_t(c.size) + size_t(t.stride) + 8, 0);
            for (int round = 0; round < 3; ++round) {
                for (int i = 0; i < c.size; ++i)
                    tmp[size_t(i)] = int16_t(round == 0   ? (i % 2 ? 20000 : -4000)
                                             : round == 1 ? 255 * 64
                                                          : int(rng() % 16320));
                std::vector<uint8_t> a(size_t(c.count) + 4, 0xA5), b = a;
                plain.horizontalSinc(tmp.data(), t, a.data());
                simd.horizontalSinc(tmp.data(), t, b.data());
                EXPECT_EQ(a, b) << c.size << " -> " << c.count;
                EXPECT_EQ(b[size_t(c.count)], 0xA5);
            }
        }
    }
}

// Where the taps sit: every output's weights sum to one, its window lies in
// the source, the grid is centred (a ramp comes out at (i + 0.5) x step -
// 0.5) and the identity passes samples through.
TEST(ScaleKernels, LanczosTapsAreCentredAndNormalised) {
    for (const auto& [size, count] :
         {std::pair{720, 480}, {720, 352}, {360, 720}, {5, 9}, {720, 8}}) {
        const SincTaps t = lanczosTaps(size, 0.0, size, count);
        ASSERT_EQ(t.count, count);
        EXPECT_EQ(t.stride % 8, 0);
        for (int i = 0; i < count; ++i) {
            const int16_t* w = t.weight.data() + size_t(i) * size_t(t.stride);
            int sum = 0;
            double centre = 0;
            for (int k = 0; k < t.stride; ++k) {
                if (k >= t.taps) {
                    EXPECT_EQ(w[k], 0);
                }
                sum += w[k];
                centre += (t.first[size_t(i)] + k) * double(w[k]) / 16384;
            }
            EXPECT_EQ(sum, 16384);
            EXPECT_GE(t.first[size_t(i)], 0);
            EXPECT_LE(t.first[size_t(i)] + t.taps, size);
            // Away from the edges a ramp lands on the centred position.
            const double expected = (i + 0.5) * size / count - 0.5;
            if (expected > 3.0 * size / count + 3 && expected < size - 3.0 * size / count - 4) {
                EXPECT_NEAR(centre, expected, 0.05) << size << " -> " << count << " at " << i;
            }
        }
    }
    const SincTaps same = lanczosTaps(64, 0.0, 64, 64);
    for (int i = 0; i < 64; ++i) {
        const int16_t* w = same.weight.data() + size_t(i) * size_t(same.stride);
        for (int k = 0; k < same.taps; ++k) {
            EXPECT_EQ(w[k], same.first[size_t(i)] + k == i ? 16384 : 0) << i << " " << k;
        }
        EXPECT_EQ(same.first[size_t(i)] + same.lead[size_t(i)], i);
        EXPECT_EQ(same.live[size_t(i)], 1);
    }
}

// The live run of each sample's taps holds every non-zero weight and starts
// and ends on one, so the rows outside it can be left out of the sums.
TEST(ScaleKernels, LanczosLiveTapsHoldEveryWeight) {
    for (const auto& [size, count] : {std::pair{576, 576}, {576, 480}, {480, 576}, {720, 352},
                                      {720, 16}, {9, 5}, {1, 3}}) {
        const SincTaps t = lanczosTaps(size, 0.0, size, count);
        ASSERT_EQ(t.lead.size(), size_t(count));
        ASSERT_EQ(t.live.size(), size_t(count));
        for (int i = 0; i < count; ++i) {
            const int16_t* w = t.weight.data() + size_t(i) * size_t(t.stride);
            const int lead = t.lead[size_t(i)], live = t.live[size_t(i)];
            ASSERT_GE(lead, 0);
            ASSERT_GE(live, 1);
            ASSERT_LE(lead + live, t.taps);
            EXPECT_NE(w[lead], 0);
            EXPECT_NE(w[lead + live - 1], 0);
            for (int k = 0; k < t.stride; ++k) {
                if (k < lead || k >= lead + live) {
                    EXPECT_EQ(w[k], 0) << size << " -> " << count;
                }
            }
        }
    }
}

// The Lanczos scaler's luma against the kernel's definition summed over the
// whole window of every output row (Full zoom, so the rows map onto the
// whole output): the same height, where each row's window holds a single
// weight, a shrink and an enlargement of the height.
TEST(Geometry, LanczosRowsMatchTheWholeWindow) {
    std::mt19937 rng(5);
    Planes src(720, 576);
    for (auto& v : src.p[0]) v = uint8_t(rng());
    const ScaleKernels plain = makeScaleKernels(CpuLevel::Plain);
    for (const auto& [w, h] : {std::pair{480, 576}, {352, 288}, {720, 640}}) {
        OutputGeometry g;
        ASSERT_TRUE(g.prepare(params(3, 13, w, h)));
        Planes out(w, h);
        g.apply(src.in(), out.out());
        const SincTaps rows = lanczosTaps(576, 0.0, 576, h);
        const SincTaps cols = lanczosTaps(720, 0.0, 720, w);
        std::vector<int16_t> tmp(720 + size_t(cols.stride) + 8, 0);
        std::vector<uint8_t> expected(static_cast<size_t>(w));
        int differing = 0;
        for (int o = 0; o < h; ++o) {
            const int16_t* wt = rows.weight.data() + size_t(o) * size_t(rows.stride);
            for (int x = 0; x < 720; ++x) {
                int v = 0;
                for (int k = 0; k < rows.taps; ++k)
                    v += src.y(x, rows.first[size_t(o)] + k) * wt[k];
                tmp[size_t(x)] = int16_t((v + 128) >> 8);
            }
            plain.horizontalSinc(tmp.data(), cols, expected.data());
            for (int x = 0; x < w; ++x) differing += expected[size_t(x)] != out.y(x, o);
        }
        EXPECT_EQ(differing, 0) << w << "x" << h;
    }
}

// The centred grid makes the scaler commute with mirroring, whatever the
// zoom: a mirrored picture comes out mirrored (up to a weight's rounding),
// which the stepped kernels, starting a pixel in, do not do.
TEST(Geometry, LanczosIsSymmetricForEveryZoom) {
    std::mt19937 rng(21);
    Planes src(720, 576), mirrored(720, 576);
    for (int r = 0; r < 576; ++r)
        for (int x = 0; x < 720; ++x) {
            const uint8_t v = uint8_t(128 + 100 * std::sin(x * 0.05 + r * 0.03) + rng() % 20);
            src.p[0][size_t(r * 720 + x)] = v;
            mirrored.p[0][size_t((575 - r) * 720 + 719 - x)] = v;
        }
    struct Zoom {
        int ratio;
        double x1, x2, y1, y2;
    };
    for (const Zoom z :
         {Zoom{0, 0, 1, 0, 1}, Zoom{1, 0, 1, 0, 1}, Zoom{2, 0, 1, 0, 1}, Zoom{3, 0, 1, 0, 1},
          Zoom{4, 0.1, 0.9, 0, 1}, Zoom{4, 0.25, 0.75, 0.25, 0.75}}) {
        for (const auto& [w, h] : {std::pair{480, 576}, {352, 288}, {720, 480}}) {
            GeometryParams gp = params(z.ratio, 13, w, h);
            gp.x1 = z.x1, gp.x2 = z.x2, gp.y1 = z.y1, gp.y2 = z.y2;
            OutputGeometry g;
            ASSERT_TRUE(g.prepare(gp));
            Planes a(w, h), b(w, h);
            g.apply(src.in(), a.out());
            g.apply(mirrored.in(), b.out());
            // The bands' rows are truncated, so mirror within the picture.
            const int top = g.luma().top, bottom = g.luma().bottom;
            int worst = 0;
            for (int r = top; r < bottom; ++r)
                for (int x = 0; x < w; ++x)
                    worst =
                        std::max(worst, std::abs(a.y(x, r) - b.y(w - 1 - x, top + bottom - 1 - r)));
            EXPECT_LE(worst, 1) << "zoom " << z.ratio << " " << w << "x" << h;
            EXPECT_EQ(a.p[1], std::vector<uint8_t>(a.p[1].size(), 128));
        }
    }
}

// Banded zooms keep their bands with the Lanczos kernel, and a picture
// shrunk by it keeps what the output can hold: a stripe pattern of period
// 8 at 720 comes out as period ~5.3 at 480 with most of its swing.
TEST(Geometry, LanczosKeepsBandsAndDetail) {
    OutputGeometry g;
    ASSERT_TRUE(g.prepare(params(0, 13, 720, 576)));
    Planes flat(720, 576, 200), out(720, 576, 0);
    g.apply(flat.in(), out.out());
    EXPECT_EQ(out.y(10, 91), 16);
    EXPECT_EQ(out.y(10, 92), 200);
    EXPECT_EQ(out.y(700, 482), 200);
    EXPECT_EQ(out.y(700, 483), 16);

    Planes stripes(720, 576);
    for (int r = 0; r < 576; ++r)
        for (int x = 0; x < 720; ++x)
            stripes.p[0][size_t(r * 720 + x)] = uint8_t(128 + 90 * std::sin(2 * M_PI * x / 8));
    ASSERT_TRUE(g.prepare(params(3, 13, 480, 576)));
    Planes small(480, 576);
    g.apply(stripes.in(), small.out());
    int low = 255, high = 0;
    for (int x = 100; x < 380; ++x) {
        low = std::min<int>(low, small.y(x, 300));
        high = std::max<int>(high, small.y(x, 300));
    }
    EXPECT_GT(high - low, 150);
}

}  // namespace
}  // namespace zembra
