// Frame processing: kernel agreement, deinterlace modes and the luminance
// filter.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "decoder/deinterlace.h"
#include "decoder/frame_kernels.h"
#include "decoder/luminance.h"
#include "support/cpu_levels.h"

namespace zembra {
namespace {

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(rng());
    return v;
}

// Every SIMD entry against the plain one on random and extreme inputs, odd
// lengths, with a guard band after the output.
TEST(FrameKernels, SimdAgreesWithPlain) {
    const FrameKernels plain = makeFrameKernels(CpuLevel::Plain);
    for (CpuLevel level : testing::simdLevels()) {
        SCOPED_TRACE(cpuLevelName(level));
        const FrameKernels simd = makeFrameKernels(level);
        for (int n : {1, 7, 8, 15, 16, 17, 33, 720, 721}) {
            for (int pattern = 0; pattern < 3; ++pattern) {
                std::vector<uint8_t> a = randomBytes(size_t(n), uint32_t(n * 3 + pattern));
                std::vector<uint8_t> b = randomBytes(size_t(n), uint32_t(n * 7 + pattern));
                std::vector<uint8_t> c = randomBytes(size_t(n), uint32_t(n * 11 + pattern));
                if (pattern == 1) {
                    std::fill(a.begin(), a.end(), 0), std::fill(b.begin(), b.end(), 255);
                    std::fill(c.begin(), c.end(), 255);
                }
                if (pattern == 2) {
                    std::fill(a.begin(), a.end(), 255), std::fill(b.begin(), b.end(), 0);
                    std::fill(c.begin(), c.end(), 0);
                }
                const size_t pad = 16;
                std::vector<uint8_t> o1(size_t(n) * 4 + pad, 0xA5), o2(size_t(n) * 4 + pad, 0xA5);

                plain.averageRows(a.data(), b.data(), o1.data(), n);
                simd.averageRows(a.data(), b.data(), o2.data(), n);
                EXPECT_EQ(o1, o2) << "average n=" << n;

                for (int gain : {0, 1, 127, 128, 200, 256}) {
                    for (int offset : {-600, -16, 0, 16, 300}) {
                        plain.luminance(a.data(), o1.data(), n, gain, offset);
                        simd.luminance(a.data(), o2.data(), n, gain, offset);
                        ASSERT_EQ(o1, o2)
                            << "luminance n=" << n << " g=" << gain << " o=" << offset;
                    }
                }
                plain.upsampleRow(a.data(), o1.data(), n);
                simd.upsampleRow(a.data(), o2.data(), n);
                EXPECT_EQ(o1, o2) << "upsample n=" << n;
                plain.upsampleRow(a.data(), o1.data(), 2 * n - 1);
                simd.upsampleRow(a.data(), o2.data(), 2 * n - 1);
                EXPECT_EQ(o1, o2) << "upsample n=" << n;
                for (int yOff : {0, 16}) {
                    plain.yuvToBgra(a.data(), b.data(), c.data(), o1.data(), n, yOff);
                    simd.yuvToBgra(a.data(), b.data(), c.data(), o2.data(), n, yOff);
                    EXPECT_EQ(o1, o2) << "bgra n=" << n;
                    plain.yuvToBgr(a.data(), b.data(), c.data(), o1.data(), n, yOff);
                    simd.yuvToBgr(a.data(), b.data(), c.data(), o2.data(), n, yOff);
                    EXPECT_EQ(o1, o2) << "bgr n=" << n;
                }
                for (size_t i = size_t(n) * 4; i < o2.size(); ++i) ASSERT_EQ(o2[i], 0xA5);
            }
        }
    }
}

TEST(Luminance, UnityFlatAndBandColour) {
    std::vector<uint8_t> in(64), out(64 + 4);
    for (int i = 0; i < 64; ++i) in[size_t(i)] = uint8_t(i * 4);
    luminanceFilter(in.data(), out.data(), 64, 128, 0);
    EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
    luminanceFilter(in.data(), out.data(), 64, 0, 16);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(out[size_t(i)], 16);
    // Doubling saturates at 255; rounding is ((Y * G + 64) >> 7).
    luminanceFilter(in.data(), out.data(), 64, 256, 0);
    EXPECT_EQ(out[10], 80);
    EXPECT_EQ(out[63], 255);
    luminanceFilter(in.data(), out.data(), 64, 100, -5);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[63], ((252 * 100 + 64) >> 7) - 5);

    EXPECT_EQ(bandLuma({false, 256, 40}), 16);
    EXPECT_EQ(bandLuma({true, 256, 0}), 32);
    EXPECT_EQ(bandLuma({true, 128, -20}), 0);
}

struct Picture {
    PlaneLayout layout;
    std::vector<uint8_t> planes[3];
    explicit Picture(const PlaneLayout& l, uint8_t base) : layout(l) {
        for (int p = 0; p < 3; ++p) {
            planes[p].resize(l.planeSize(p));
            // Row r of plane p holds base + 10 * r + p.
            for (int r = 0; r < l.planeHeight(p); ++r)
                std::memset(&planes[p][size_t(r) * size_t(l.planeWidth(p))], base + 10 * r + p,
                            size_t(l.planeWidth(p)));
        }
    }
    const uint8_t* const* in() const {
        ptrs[0] = planes[0].data(), ptrs[1] = planes[1].data(), ptrs[2] = planes[2].data();
        return ptrs;
    }
    uint8_t* const* out() {
        wptrs[0] = planes[0].data(), wptrs[1] = planes[1].data(), wptrs[2] = planes[2].data();
        return wptrs;
    }
    uint8_t at(int p, int row) const {
        return planes[p][size_t(row) * size_t(layout.planeWidth(p))];
    }
    mutable const uint8_t* ptrs[3];
    uint8_t* wptrs[3];
};

TEST(Deinterlace, ModesAndFirstFrameRule) {
    const PlaneLayout l = PlaneLayout::make(16, 6, 1);
    const Picture first(l, 0), second(l, 100);

    // Mode 3: odd rows averaged, the last (odd) row repeats the one above.
    {
        Deinterlacer d;
        d.reset(l, 3);
        Picture out(l, 0);
        d.deinterlaceFrame(second.in(), 5, out.out());
        EXPECT_EQ(out.at(0, 0), 100);
        EXPECT_EQ(out.at(0, 1), 110);  // (100 + 120) >> 1
        EXPECT_EQ(out.at(0, 4), 140);
        EXPECT_EQ(out.at(0, 5), 140);
        EXPECT_EQ(out.at(1, 1), 111);  // chroma: 3 rows of their own
        EXPECT_EQ(out.at(1, 2), 121);
    }
    for (int mode : {1, 2}) {
        Deinterlacer d;
        d.reset(l, mode);
        Picture out(l, 0);
        // First frame: like mode 3.
        d.deinterlaceFrame(first.in(), 0, out.out());
        EXPECT_EQ(out.at(0, 1), 10);
        EXPECT_EQ(out.at(0, 5), 40);
        // Next frame weaves in the previous one's rows.
        d.deinterlaceFrame(second.in(), 1, out.out());
        for (int row = 0; row < 6; ++row) {
            const bool fromPrevious = (row % 2 == 1) == (mode == 1);
            EXPECT_EQ(out.at(0, row), (fromPrevious ? 0 : 100) + 10 * row) << mode << " " << row;
        }
        EXPECT_EQ(out.at(2, 1), (mode == 1 ? 0 : 100) + 12);
    }
    // Mode 0 copies.
    Deinterlacer d;
    d.reset(l, 0);
    Picture out(l, 0);
    d.deinterlaceFrame(second.in(), 3, out.out());
    EXPECT_EQ(out.planes[0], second.planes[0]);
}

}  // namespace
}  // namespace zembra
