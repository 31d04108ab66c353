// The Best motion search: the price of vectors, and what it finds in
// pictures moved by a known amount.

#include "encoder/motion_best.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace zembra {
namespace {

// The lengths of motion_code with its sign, plus the residual's f_code - 1
// bits; differences wrap around the f_code's range.
TEST(MotionBest, VectorBitsFollowTheMotionCodeTable) {
    EXPECT_EQ(motionComponentBits(0, 1), 1);
    EXPECT_EQ(motionComponentBits(1, 1), 3);
    EXPECT_EQ(motionComponentBits(-1, 1), 3);
    EXPECT_EQ(motionComponentBits(4, 1), 7);
    EXPECT_EQ(motionComponentBits(16, 1), 11);
    EXPECT_EQ(motionComponentBits(2, 2), 4);   // motion_code 1 and one residual bit
    EXPECT_EQ(motionComponentBits(3, 2), 5);   // motion_code 2
    EXPECT_EQ(motionComponentBits(31, 1), 3);  // wraps to -1
    EXPECT_EQ(motionComponentBits(0, 4), 1);
    const HalfPelVector m = medianVector({1, 9}, {5, -3}, {3, 4});
    EXPECT_EQ(m, (HalfPelVector{3, 4}));
}

// The f_code follows the motion the last picture of the kind found, with
// room for half as much again, within the ceiling; a few stray vectors
// (flat areas take any) do not hold it up.
TEST(MotionBest, FcodeFollowsTheMotionFound) {
    EXPECT_EQ(nextFcode(-1, 4), 4);  // nothing found yet: the ceiling
    EXPECT_EQ(nextFcode(0, 4), 1);
    EXPECT_EQ(nextFcode(7, 4), 1);   // 7 + 3 + 4 = 14 half pels: f_code 1 reaches 15
    EXPECT_EQ(nextFcode(8, 4), 2);   // 16 needed
    EXPECT_EQ(nextFcode(39, 4), 3);  // 62 needed: f_code 3 reaches 63
    EXPECT_EQ(nextFcode(40, 4), 4);
    EXPECT_EQ(nextFcode(500, 3), 3);

    std::vector<HalfPelVector> field(200, HalfPelVector{2, -6});
    EXPECT_EQ(largestComponent(field.data(), field.size()), 6);
    field[17] = {90, 0};
    field[60] = {0, -70};
    EXPECT_EQ(largestComponent(field.data(), field.size()), 6);
    for (int i = 0; i < 10; ++i) field[100 + i] = {30, 1};
    EXPECT_EQ(largestComponent(field.data(), field.size()), 30);
}

// A textured picture, smooth enough for the steps to walk down to its
// motion.
struct Scene {
    int w, h;
    std::vector<std::uint8_t> px;
    // (hx, hy): where the pels sit in the texture, in half pels.
    Scene(int width, int height, int hx = 0, int hy = 0)
        : w(width), h(height), px(size_t(width * height)) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int u = 2 * x + hx, v = 2 * y + hy;
                px[size_t(y * w + x)] = std::uint8_t(
                    128 + 50 * std::sin(u * 0.09) * std::cos(v * 0.07) + 30 * std::sin((u + v) * 0.21));
            }
    }
    // The picture seen through an integer offset, its edges repeated.
    std::vector<std::uint8_t> view(int ox, int oy) const {
        std::vector<std::uint8_t> out(size_t(w * h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out[size_t(y * w + x)] =
                    px[size_t(std::clamp(y + oy, 0, h - 1) * w + std::clamp(x + ox, 0, w - 1))];
        return out;
    }
};

// A reference picture and its half-pel planes, the rounded averages a
// decoder predicts with (right, below, diagonal).
struct Reference {
    int w, h;
    std::vector<std::uint8_t> full, half[3];
    SearchReference search;
    Reference(const Scene& s, int ox, int oy) : w(s.w), h(s.h), full(s.view(ox, oy)) {
        for (auto& plane : half) plane.resize(full.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int a = at(x, y), b = at(x + 1, y), c = at(x, y + 1), d = at(x + 1, y + 1);
                half[0][size_t(y * w + x)] = std::uint8_t((a + b + 1) >> 1);
                half[1][size_t(y * w + x)] = std::uint8_t((a + c + 1) >> 1);
                half[2][size_t(y * w + x)] = std::uint8_t((a + b + c + d + 2) >> 2);
            }
        search.source = full.data();
        search.recon = full.data();
        for (int i = 0; i < 3; ++i) search.half[i] = half[i].data();
        search.width = w;
        search.height = h;
    }
    int at(int x, int y) const {
        return full[size_t(std::min(y, h - 1) * w + std::min(x, w - 1))];
    }
};

// A block of a 256x192 picture whose motion is (+45, -23) half pels: the
// block is the reference's prediction through that vector.
struct FarMotion {
    Scene scene{256, 192, -45, 23};
    Reference ref{scene, 0, 0};
    static constexpr int x0 = 112, y0 = 80;
    alignas(32) std::uint8_t packed[256];
    FarMotion() {
        const std::uint8_t* from = ref.search.reconAt(2 * x0 + 45, 2 * y0 - 23);
        for (int r = 0; r < 16; ++r) std::memcpy(packed + 16 * r, from + r * 256, 16);
    }
};

// A best candidate no worse than what the neighbours settled at is only
// refined by small steps: they still walk the last pels to the motion, but
// a block whose candidates all miss by far needs the large ones.
TEST(MotionBest, SettledCandidatesSkipTheLargeSteps) {
    const EncoderKernels k = makeKernels(cpuLevel());
    FarMotion m;
    const auto& packed = m.packed;
    const auto& ref = m.ref;
    const int x0 = FarMotion::x0, y0 = FarMotion::y0;
    const BestMotionSearch search(k, 4, 3);
    const HalfPelVector exact{45, -23};

    const HalfPelVector near[] = {{40, -20}};
    MotionChoice c = search.search(packed, ref.search, x0, y0, near, 1, {}, INT_MAX);
    EXPECT_EQ(c.vector, exact);
    // The integer stage's cost, which the half pels only lower.
    EXPECT_GE(c.fullPelCost, c.cost);
    EXPECT_GT(c.fullPelCost, 0);

    // Twelve pels off: the small steps stop on a lesser match.
    const HalfPelVector far[] = {{44, 0}};
    c = search.search(packed, ref.search, x0, y0, far, 1, {}, -1);
    EXPECT_EQ(c.vector, exact);
    c = search.search(packed, ref.search, x0, y0, far, 1, {}, INT_MAX);
    EXPECT_NE(c.vector, exact);
}

// Blocks at the picture's edges keep their vectors inside it.
TEST(MotionBest, VectorsStayInsideThePicture) {
    const EncoderKernels k = makeKernels(cpuLevel());
    Scene scene(64, 48);
    const std::vector<std::uint8_t> cur = scene.view(0, 0);
    Reference ref(scene, 20, 20);
    const BestMotionSearch search(k, 1, 4);
    for (const auto& [x0, y0] : {std::pair{0, 0}, std::pair{48, 32}, std::pair{0, 32}}) {
        alignas(32) std::uint8_t packed[256];
        for (int r = 0; r < 16; ++r)
            std::memcpy(packed + 16 * r, cur.data() + (y0 + r) * 64 + x0, 16);
        const HalfPelVector far[] = {{-200, -200}, {200, 200}};
        const MotionChoice c = search.search(packed, ref.search, x0, y0, far, 2, {});
        EXPECT_GE(2 * x0 + c.vector.x, 0);
        EXPECT_GE(2 * y0 + c.vector.y, 0);
        EXPECT_LE(2 * x0 + c.vector.x, 2 * (64 - 16));
        EXPECT_LE(2 * y0 + c.vector.y, 2 * (48 - 16));
    }
}

}  // namespace
}  // namespace zembra
