// The Best motion search: the price of vectors, and what it finds in
// pictures moved by a known amount.

#include "encoder/motion_best.h"

#include <gtest/gtest.h>

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

// A textured picture and the same moved by (dx, dy) half pels: the plain
// picture at even positions of a twice-as-large one, so the half-pel
// planes are exact samples.
struct Scene {
    int w, h;
    std::vector<std::uint8_t> big;  // 2w x 2h
    Scene(int width, int height) : w(width), h(height), big(size_t(4 * width * height)) {
        for (int y = 0; y < 2 * h; ++y)
            for (int x = 0; x < 2 * w; ++x)
                big[size_t(y * 2 * w + x)] =
                    std::uint8_t(128 + 50 * std::sin(x * 0.09) * std::cos(y * 0.07) +
                                 30 * std::sin((x + y) * 0.21));
    }
    // The picture seen through a vector: sample (x, y) from big(2x + hx, 2y + hy).
    std::vector<std::uint8_t> view(int hx, int hy) const {
        std::vector<std::uint8_t> out(size_t(w * h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int bx = std::clamp(2 * x + hx, 0, 2 * w - 1);
                const int by = std::clamp(2 * y + hy, 0, 2 * h - 1);
                out[size_t(y * w + x)] = big[size_t(by * 2 * w + bx)];
            }
        return out;
    }
};

struct Reference {
    std::vector<std::uint8_t> full, half[3];
    SearchReference search;
    Reference(const Scene& s, int ox, int oy) {
        full = s.view(ox, oy);
        half[0] = s.view(ox + 1, oy);
        half[1] = s.view(ox, oy + 1);
        half[2] = s.view(ox + 1, oy + 1);
        search.source = full.data();
        search.recon = full.data();
        for (int i = 0; i < 3; ++i) search.half[i] = half[i].data();
        search.width = s.w;
        search.height = s.h;
    }
};

// A block of a 256x192 picture whose motion is (+45, -23) half pels: the
// current picture sees the scene from (0, 0), the reference from (-45, +23).
struct FarMotion {
    Scene scene{256, 192};
    Reference ref{scene, -45, 23};
    static constexpr int x0 = 112, y0 = 80;
    alignas(32) std::uint8_t packed[256];
    FarMotion() {
        const std::vector<std::uint8_t> cur = scene.view(0, 0);
        for (int r = 0; r < 16; ++r)
            std::memcpy(packed + 16 * r, cur.data() + (y0 + r) * 256 + x0, 16);
    }
};

TEST(MotionBest, FindsMotionFarFromZeroFromAPredictedStart) {
    const EncoderKernels k = makeKernels(cpuLevel());
    FarMotion m;
    const auto& packed = m.packed;
    const auto& ref = m.ref;
    const int x0 = FarMotion::x0, y0 = FarMotion::y0;

    const BestMotionSearch search(k, 4, 3);  // f_code 3: -64..63 half pels
    // A neighbour's vector a few pels off: the steps walk the rest.
    const HalfPelVector near[] = {{38, -16}};
    MotionChoice c = search.search(packed, ref.search, x0, y0, near, 1, {});
    EXPECT_EQ(c.vector, (HalfPelVector{45, -23}));
    EXPECT_EQ(c.sad, 0);
    EXPECT_EQ(c.cost, search.vectorCost(c.vector, {}));
    // A cheaper vector loses to the exact one only while its bits are worth
    // less than the error it saves: the exact vector coded against itself
    // as the prediction costs 2 bits.
    c = search.search(packed, ref.search, x0, y0, near, 1, {45, -23});
    EXPECT_EQ(c.vector, (HalfPelVector{45, -23}));
    EXPECT_EQ(c.cost, 2 * 4);

    // Beyond what f_code 1 carries (-16..15) nothing is returned.
    const BestMotionSearch narrow(k, 4, 1);
    c = narrow.search(packed, ref.search, x0, y0, near, 1, {});
    EXPECT_GE(c.vector.x, -16);
    EXPECT_LE(c.vector.x, 15);
    EXPECT_GE(c.vector.y, -16);
    EXPECT_LE(c.vector.y, 15);
}

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
