#include "encoder/motion_best.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zembra {

int motionComponentBits(int delta, int fcode) {
    // Lengths of the motion_code words, sign included, by |motion_code|.
    static constexpr int kLength[17] = {1, 3, 4, 5, 7, 8, 8, 8, 10, 10, 10, 11, 11, 11, 11, 11, 11};
    const int rSize = fcode - 1;
    const int span = 32 << rSize;
    // Differences wrap around the range, as the decoder adds them.
    delta = ((delta + span / 2) % span + span) % span - span / 2;
    if (delta == 0) return 1;
    const int code = ((std::abs(delta) - 1) >> rSize) + 1;
    return kLength[std::min(code, 16)] + rSize;
}

int nextFcode(int largest, int ceiling) {
    if (largest < 0) return ceiling;
    const int needed = largest + largest / 2 + 4;
    int fcode = 1;
    while (fcode < ceiling && (16 << (fcode - 1)) - 1 < needed) ++fcode;
    return fcode;
}

int largestComponent(const HalfPelVector* v, std::size_t count) {
    // A few macroblocks of flat or noisy content take any vector; they
    // would hold the f_code up for nothing, so the largest is that of all
    // but the top share.
    constexpr double kShare = 0.02;
    constexpr int kCap = 1024;
    std::vector<int> count_(kCap + 1, 0);
    for (std::size_t i = 0; i < count; ++i)
        ++count_[std::min(kCap, std::max(std::abs(v[i].x), std::abs(v[i].y)))];
    std::size_t above = 0;
    const std::size_t allowed = static_cast<std::size_t>(count * kShare);
    for (int m = kCap; m > 0; --m) {
        above += count_[m];
        if (above > allowed) return m;
    }
    return 0;
}

HalfPelVector medianVector(HalfPelVector a, HalfPelVector b, HalfPelVector c) {
    const auto mid = [](int x, int y, int z) {
        return std::max(std::min(x, y), std::min(std::max(x, y), z));
    };
    return {mid(a.x, b.x, c.x), mid(a.y, b.y, c.y)};
}

const std::uint8_t* SearchReference::reconAt(int hx, int hy) const {
    const std::size_t off = static_cast<std::size_t>(hy >> 1) * width + (hx >> 1);
    const int kind = (hx & 1) | (hy & 1) << 1;
    return kind == 0 ? recon + off : half[kind - 1] + off;
}

namespace {

// motionComponentBits of every difference two vectors of an f_code's range
// can have, for the f_codes a stream can state: the search prices every
// position it tries.
constexpr int kLargestFcode = 9;

const std::uint8_t* componentBitsTable(int fcode) {
    static const std::array<std::vector<std::uint8_t>, kLargestFcode + 1> tables = [] {
        std::array<std::vector<std::uint8_t>, kLargestFcode + 1> t;
        for (int f = 1; f <= kLargestFcode; ++f) {
            const int span = 32 << (f - 1);
            t[f].resize(2 * span + 1);
            for (int d = -span; d <= span; ++d)
                t[f][d + span] = static_cast<std::uint8_t>(motionComponentBits(d, f));
        }
        return t;
    }();
    return tables[fcode].data() + (32 << (fcode - 1));
}

// The integer positions one search has tried, in a small open-addressed
// table. When it fills up, further positions count as new: trying one
// again costs a sum, never a different result.
class TriedPositions {
public:
    TriedPositions() { std::memset(keys_, 0xFF, sizeof keys_); }
    // Whether (dx, dy) is new; it is recorded as tried.
    bool firstTime(int dx, int dy) {
        if (used_ >= kSize / 2) return true;
        const std::uint32_t key = static_cast<std::uint32_t>(dx + 0x4000) << 16 |
                                  static_cast<std::uint32_t>(dy + 0x4000);
        for (std::uint32_t i = (key * 0x9E3779B1u) >> (32 - kBits);; i = (i + 1) & (kSize - 1)) {
            if (keys_[i] == key) return false;
            if (keys_[i] == kEmpty) {
                keys_[i] = key;
                ++used_;
                return true;
            }
        }
    }

private:
    static constexpr int kBits = 7;
    static constexpr int kSize = 1 << kBits;
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;  // no offset within a picture packs to it
    std::uint32_t keys_[kSize];
    int used_ = 0;
};

}  // namespace

BestMotionSearch::BestMotionSearch(const EncoderKernels& kernels, int lambda, int fcode)
    : k_(kernels),
      lambda_(lambda),
      fcode_(fcode),
      span_(fcode <= kLargestFcode ? 32 << (fcode - 1) : -1),
      bits_(fcode <= kLargestFcode ? componentBitsTable(fcode) : nullptr) {
    high_ = (16 << (fcode - 1)) - 1;
    low_ = -(16 << (fcode - 1));
}

MotionChoice BestMotionSearch::search(const std::uint8_t* blk, const SearchReference& ref, int x0,
                                      int y0, const HalfPelVector* candidates, int count,
                                      HalfPelVector pmv, int settled) const {
    const int W = ref.width, H = ref.height;
    // Integer offsets whose block lies in the picture and whose vector,
    // with the half-pel step after it, the f_code can still carry.
    const int xmin = std::max(-x0, (low_ + 1) / 2), xmax = std::min(W - 16 - x0, (high_ - 1) / 2);
    const int ymin = std::max(-y0, (low_ + 1) / 2), ymax = std::min(H - 16 - y0, (high_ - 1) / 2);

    int bx = 0, by = 0;
    int best = k_.sad16Packed(blk, ref.source + static_cast<std::size_t>(y0) * W + x0, W, INT_MAX) +
               vectorCost({}, pmv);
    // The candidates repeat each other and the diamonds overlap as they
    // move; a position tried once cannot win later (the best only falls),
    // so it is not summed again. The compiler kept the step below as a
    // call, with the best and its position in memory, in every loop.
    TriedPositions tried;
    tried.firstTime(0, 0);
    const auto tryAt = [&](int dx, int dy) __attribute__((always_inline)) {
        if (dx < xmin || dx > xmax || dy < ymin || dy > ymax || !tried.firstTime(dx, dy))
            return false;
        const int bits = vectorCost({2 * dx, 2 * dy}, pmv);
        if (bits >= best) return false;
        const int sad = k_.sad16Packed(
            blk, ref.source + static_cast<std::size_t>(y0 + dy) * W + x0 + dx, W, best - bits);
        if (sad + bits >= best) return false;
        best = sad + bits;
        bx = dx;
        by = dy;
        return true;
    };
    for (int i = 0; i < count; ++i) tryAt(candidates[i].x >> 1, candidates[i].y >> 1);

    // Large diamond steps while the centre moves, then small ones.
    static constexpr int kLarge[8][2] = {{0, -2}, {-1, -1}, {1, -1}, {-2, 0},
                                         {2, 0},  {-1, 1},  {1, 1},  {0, 2}};
    static constexpr int kSmall[4][2] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
    const bool largeSteps = best > settled;
    for (int scale : {4, 2, 1}) {
        if (!largeSteps && scale > 1) continue;
        for (int step = 0; step < 64; ++step) {
            const int cx = bx, cy = by;
            for (const auto& d : kLarge) tryAt(cx + scale * d[0], cy + scale * d[1]);
            if (bx == cx && by == cy) break;
        }
    }
    for (int step = 0; step < 16; ++step) {
        const int cx = bx, cy = by;
        for (const auto& d : kSmall) tryAt(cx + d[0], cy + d[1]);
        if (bx == cx && by == cy) break;
    }

    // Half pels around it, on the reconstruction the decoder predicts from.
    MotionChoice c;
    c.fullPelCost = best;
    const int hx0 = 2 * (x0 + bx), hy0 = 2 * (y0 + by);
    c.vector = {2 * bx, 2 * by};
    c.sad = k_.sad16Packed(blk, ref.reconAt(hx0, hy0), W, INT_MAX);
    c.cost = c.sad + vectorCost(c.vector, pmv);
    // With all eight neighbours inside the picture their sums come from
    // one pass over the reconstruction; a sum cut short at the bound below
    // loses as the whole one does, so the choice is the same either way.
    const int ix = x0 + bx, iy = y0 + by;
    int sads[8];
    const bool allEight = k_.halfPelSads && ix > 0 && iy > 0 && ix < W - 16 && iy < H - 16;
    if (allEight) k_.halfPelSads(blk, ref.recon + static_cast<std::size_t>(iy) * W + ix, W, sads);
    int n = -1;
    for (int hy = hy0 - 1; hy <= hy0 + 1; ++hy) {
        for (int hx = hx0 - 1; hx <= hx0 + 1; ++hx) {
            if (hx == hx0 && hy == hy0) continue;
            ++n;
            if (hx < 0 || hy < 0 || hx > 2 * (W - 16) || hy > 2 * (H - 16)) continue;
            const HalfPelVector v{hx - 2 * x0, hy - 2 * y0};
            if (v.x < low_ || v.x > high_ || v.y < low_ || v.y > high_) continue;
            const int bits = vectorCost(v, pmv);
            if (bits >= c.cost) continue;
            const int sad = allEight ? sads[n]
                                     : k_.sad16Packed(blk, ref.reconAt(hx, hy), W, c.cost - bits);
            if (sad + bits < c.cost) {
                c.cost = sad + bits;
                c.sad = sad;
                c.vector = v;
            }
        }
    }
    return c;
}

}  // namespace zembra
