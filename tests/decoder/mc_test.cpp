// Half-pel prediction kernels: the two rounding families, and every SSE2
// entry against the plain one without writing outside the block.

#include "decoder/mc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "support/cpu_levels.h"

namespace zembra {
namespace {

TEST(McKernels, FourPointAverageDiffersBetweenFamilies) {
    for (CpuLevel level : machineCpuLevels()) {
        const McKernels exact = makeMcKernels(McFamily::Exact, level);
        const McKernels cascaded = makeMcKernels(McFamily::Cascaded, level);
        // a = b = c = 0 on every pair, d = 1.
        uint8_t src[2 * 32] = {};
        for (int x = 1; x < 17; x += 2) src[32 + x] = 1;
        uint8_t dst[16];
        exact.fn[0][1][3](dst, 16, src, 32, 1);
        EXPECT_EQ(dst[0], 0);  // (0 + 0 + 0 + 1 + 2) >> 2
        cascaded.fn[0][1][3](dst, 16, src, 32, 1);
        EXPECT_EQ(dst[0], 1);  // ((0 + 0 + 1) >> 1 = 0, (0 + 1 + 1) >> 1 = 1, then 1)
        // The other forms round the same way in both families.
        uint8_t d2[16];
        exact.fn[0][1][1](dst, 16, src + 32, 32, 1);
        cascaded.fn[0][1][1](d2, 16, src + 32, 32, 1);
        EXPECT_EQ(std::memcmp(dst, d2, 16), 0);
    }
}

TEST(McKernels, SimdEntriesEqualPlainAndStayInTheirBlock) {
    std::mt19937 rng(7);
    for (CpuLevel level : testing::simdLevels())
        for (McFamily family : {McFamily::Exact, McFamily::Cascaded}) {
            SCOPED_TRACE(cpuLevelName(level));
            const McKernels plain = makeMcKernels(family, CpuLevel::Plain);
            const McKernels simd = makeMcKernels(family, level);
            for (int avg = 0; avg < 2; ++avg)
                for (int wide = 0; wide < 2; ++wide)
                    for (int half = 0; half < 4; ++half) {
                        const int w = wide ? 16 : 8;
                        for (int h : {1, 4, 8, 16}) {
                            for (int round = 0; round < 50; ++round) {
                                const int ss = 40, ds = 24;
                                std::vector<uint8_t> src(size_t(ss) * 18);
                                for (auto& v : src)
                                    v = uint8_t(round == 0 ? 255 * (rng() & 1) : rng());
                                std::vector<uint8_t> a(size_t(ds) * 17), b;
                                for (auto& v : a) v = uint8_t(rng());
                                b = a;
                                const std::vector<uint8_t> before = a;
                                plain.fn[avg][wide][half](a.data(), ds, src.data(), ss, h);
                                simd.fn[avg][wide][half](b.data(), ds, src.data(), ss, h);
                                ASSERT_EQ(a, b) << int(family) << avg << wide << half << " h " << h;
                                // Only w x h bytes changed (the rest of each row and the
                                // rows below are the guard).
                                for (int y = 0; y < 17; ++y)
                                    for (int x = 0; x < ds; ++x) {
                                        const size_t i = size_t(y * ds + x);
                                        if (y >= h || x >= w) {
                                            ASSERT_EQ(b[i], before[i]) << "write outside the block";
                                        }
                                    }
                            }
                        }
                    }
        }
}

}  // namespace
}  // namespace zembra
