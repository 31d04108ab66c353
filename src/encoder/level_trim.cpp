#include "encoder/level_trim.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "encoder/vlc_tables.h"
#include "mpeg/scan_tables.h"

namespace zembra {

namespace {

// 32 times the magnitude the decoder rebuilds from a level, `wq` the
// weight times the quantiser scale: steps of w q / 16 (non-intra (2l+1)
// w q / 32, intra l w q / 16). In integers, the errors a move makes are
// exact: whole 1024ths, as the same terms in double would be.
std::int64_t rebuilt32(int level, int wq, bool intra) {
    if (level == 0) return 0;
    return static_cast<std::int64_t>(2 * level + (intra ? 0 : 1)) * wq;
}

// Bits a block saves once it has no level left: its end of block, and
// about what its bit in the coded block pattern costs.
constexpr int kEmptyBlockBits = 4;

// A level's rebuilt value as MPEG-2 decoders make it, saturated.
int rebuiltValue(int level, int w, int qs, bool intra) {
    if (level == 0) return 0;
    const int m = std::abs(level);
    const int v = intra ? (m * w * qs) >> 4 : ((2 * m + 1) * w * qs) >> 5;
    if (level > 0) return v > 2047 ? 2047 : v;
    return v > 2048 ? -2048 : -v;
}

}  // namespace

bool trimLevels(const std::int16_t* coef, std::int16_t* level, const TrimQuant& tq, double lambda) {
    // The non-zero levels in scan order.
    int pos[64], mag[64], run[64];
    std::uint64_t inScan = 0;
    if (tq.nonZero) {
        for (std::uint64_t nat = *tq.nonZero; nat; nat &= nat - 1)
            inScan |= std::uint64_t{1} << mpeg::kZigZagPosition[__builtin_ctzll(nat)];
    } else {
        for (int s = 0; s < 64; ++s)
            if (level[mpeg::kZigZag[s]] != 0) inScan |= std::uint64_t{1} << s;
    }
    if (tq.intra) inScan &= ~std::uint64_t{1};
    int n = 0, last = -1;
    for (; inScan; inScan &= inScan - 1) {
        const int s = __builtin_ctzll(inScan);
        const int at = mpeg::kZigZag[s];
        pos[n] = at;
        mag[n] = std::abs(level[at]);
        run[n] = s - last - 1;
        last = s;
        ++n;
    }
    const bool first = !tq.intra;
    int left = n;
    int next = -1;  // the next level kept after the one at hand
    for (int i = n - 1; i >= 0; --i) {
        const int at = pos[i];
        const std::int64_t x32 = 32 * std::abs(coef[at]);
        const int wq = tq.matrix[at] * tq.quantiserScale;
        const int l = mag[i];
        const std::int64_t eNow = x32 - rebuilt32(l, wq, tq.intra);
        const std::int64_t eLow = x32 - rebuilt32(l - 1, wq, tq.intra);
        const double dDist = static_cast<double>(eLow * eLow - eNow * eNow) / 1024.0;
        const bool isFirst = first && i == 0;
        int dBits;
        if (l > 1) {
            dBits = runLevelBits(run[i], l - 1, isFirst, tq.mpeg2) -
                    runLevelBits(run[i], l, isFirst, tq.mpeg2);
        } else {
            dBits = -runLevelBits(run[i], l, isFirst, tq.mpeg2);
            if (next >= 0)
                dBits += runLevelBits(run[next] + run[i] + 1, mag[next], isFirst, tq.mpeg2) -
                         runLevelBits(run[next], mag[next], false, tq.mpeg2);
            else if (left == 1 && !tq.intra)
                dBits -= kEmptyBlockBits;
        }
        if (dDist + lambda * dBits >= 0) {
            next = i;
            continue;
        }
        mag[i] = l - 1;
        level[at] = static_cast<std::int16_t>(coef[at] < 0 ? -(l - 1) : l - 1);
        if (mag[i] > 0) {
            next = i;
        } else {
            --left;
            if (next >= 0) run[next] += run[i] + 1;
        }
    }
    return left > 0;
}

namespace {

// What a level 1 rebuilds to for a matrix and quantiser: the value at
// each natural position, and the scan positions where it is odd. A coder
// asks for the same few again and again: the last one of each thread is
// kept.
struct LevelOnes {
    std::array<std::uint8_t, 64> matrix{};
    int quantiserScale = -1;
    bool intra = false;
    std::array<int, 64> value{};  // natural order
    std::uint64_t odd = 0;        // scan order
};

const LevelOnes& levelOnes(const TrimQuant& tq) {
    thread_local LevelOnes kept;
    if (kept.quantiserScale != tq.quantiserScale || kept.intra != tq.intra ||
        std::memcmp(kept.matrix.data(), tq.matrix, 64) != 0) {
        std::memcpy(kept.matrix.data(), tq.matrix, 64);
        kept.quantiserScale = tq.quantiserScale;
        kept.intra = tq.intra;
        kept.odd = 0;
        for (int s = 0; s < 64; ++s) {
            const int at = mpeg::kZigZag[s];
            kept.value[at] = rebuiltValue(1, tq.matrix[at], tq.quantiserScale, tq.intra);
            if (kept.value[at] & 1) kept.odd |= std::uint64_t{1} << s;
        }
    }
    return kept;
}

// One move of a level by one, and what it costs.
struct Move {
    double cost = 1e300;
    int at = -1;
    int level = 0;
};

}  // namespace

bool makeSumOdd(const std::int16_t* coef, std::int16_t* level, const TrimQuant& tq, int dcScale,
                double lambda, double maxCost) {
    const int qs = tq.quantiserScale;
    // The non-zero levels in scan order (the intra DC apart).
    std::uint64_t inScan = 0;
    if (tq.nonZero) {
        for (std::uint64_t nat = *tq.nonZero; nat; nat &= nat - 1)
            inScan |= std::uint64_t{1} << mpeg::kZigZagPosition[std::countr_zero(nat)];
    } else {
        for (int i = 0; i < 64; ++i)
            if (level[i] != 0) inScan |= std::uint64_t{1} << mpeg::kZigZagPosition[i];
    }
    int sum = 0;
    if (tq.intra) {
        inScan &= ~std::uint64_t{1};
        sum = level[0] * dcScale;
    }
    const int count = std::popcount(inScan);
    if (count == 0 && !tq.intra) return false;
    // Only the sum's parity counts, which a value's sign leaves alone:
    // the magnitudes, saturated as each sign saturates, without a branch
    // on either.
    const int half = tq.intra ? 0 : 1;
    for (std::uint64_t m = inScan; m; m &= m - 1) {
        const int at = mpeg::kZigZag[std::countr_zero(m)];
        const int l = level[at];
        const int v = ((2 * std::abs(l) + half) * tq.matrix[at] * qs) >> 5;
        sum += std::min(v, l > 0 ? 2047 : 2048);
    }
    if (sum & 1) return count > 0;

    const int firstAc = tq.intra ? 1 : 0;
    // Scan positions of the levels before and after s (firstAc - 1, 64: none).
    const auto before = [&](int s) {
        const std::uint64_t below = inScan & ((std::uint64_t{1} << s) - 1);
        return below ? 63 - std::countl_zero(below) : firstAc - 1;
    };
    const auto after = [&](int s) {
        const std::uint64_t above = s < 63 ? inScan >> (s + 1) << (s + 1) : 0;
        return above ? std::countr_zero(above) : 64;
    };
    Move best;
    // Scan position s moved from magnitude m to mNew, where that flips the
    // sum's parity: its error and bits against the block as it is.
    // (Inlined: as a call it kept the best move in memory.)
    const auto weigh = [&](int s, int mNew, double dDist) __attribute__((always_inline)) {
        const int at = mpeg::kZigZag[s];
        const int m = std::abs(level[at]);
        const int prev = before(s), next = after(s);
        // Non-intra blocks' first code has a short form for level 1.
        const bool isFirst = !tq.intra && prev < firstAc;
        const int runHere = s - prev - 1;
        int bitsNow = m ? runLevelBits(runHere, m, isFirst, tq.mpeg2) : 0;
        int bitsNew = mNew ? runLevelBits(runHere, mNew, isFirst, tq.mpeg2) : 0;
        if (next < 64 && (m == 0) != (mNew == 0)) {
            // The next level's run: from the level before s, or from s.
            const int mNext = std::abs(level[mpeg::kZigZag[next]]);
            const int joined = runLevelBits(next - prev - 1, mNext, isFirst, tq.mpeg2);
            const int split = runLevelBits(next - s - 1, mNext, false, tq.mpeg2);
            bitsNow += m ? split : joined;
            bitsNew += m ? joined : split;
        }
        if (mNew == 0 && count == 1 && !tq.intra) bitsNow += kEmptyBlockBits;
        const double cost = dDist + lambda * (bitsNew - bitsNow);
        if (cost < best.cost) {
            const int sign = level[at] != 0 ? (level[at] < 0 ? -1 : 1) : (coef[at] < 0 ? -1 : 1);
            best = Move{cost, at, sign * mNew};
        }
    };
    const auto errorChange = [&](int at, int vNow, int vNew) {
        const std::int64_t x = coef[at];
        return static_cast<double>((x - vNew) * (x - vNew) - (x - vNow) * (x - vNow));
    };
    // The levels there are, one up or one down.
    for (std::uint64_t m = inScan; m; m &= m - 1) {
        const int s = std::countr_zero(m);
        const int at = mpeg::kZigZag[s];
        const int l = level[at];
        const int vNow = rebuiltValue(l, tq.matrix[at], qs, tq.intra);
        for (const int mNew : {std::abs(l) + 1, std::abs(l) - 1}) {
            if (mNew > 2047) continue;
            const int vNew = rebuiltValue(l < 0 ? -mNew : mNew, tq.matrix[at], qs, tq.intra);
            if ((vNew ^ vNow) & 1) weigh(s, mNew, errorChange(at, vNow, vNew));
        }
    }
    // A new level 1 where there is none and it rebuilds odd: its error alone
    // (a new code costs bits) must be below the cheapest move found.
    // The level takes the coefficient's sign, so its error grows by
    // v^2 - 2|x|v, exactly, in integers (v a level 1's value, at most 2047).
    const LevelOnes& ones = levelOnes(tq);
    std::uint64_t odd = ones.odd & ~inScan;
    if (tq.intra) odd &= ~std::uint64_t{1};
    for (; odd; odd &= odd - 1) {
        const int s = std::countr_zero(odd);
        const int at = mpeg::kZigZag[s];
        const int v = ones.value[at];
        const int dDist = v * (v - 2 * std::abs(coef[at]));
        if (dDist < best.cost) weigh(s, 1, dDist);
    }
    // None flips it (every value even), or none is worth it.
    if (best.at < 0 || best.cost > maxCost) return count > 0;
    const int left = count + (level[best.at] == 0) - (best.level == 0);
    level[best.at] = static_cast<std::int16_t>(best.level);
    return left > 0;
}

}  // namespace zembra
