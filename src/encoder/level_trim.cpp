#include "encoder/level_trim.h"

#include <cstdlib>

#include "encoder/vlc_tables.h"
#include "mpeg/scan_tables.h"

namespace zembra {

namespace {

// The magnitude the decoder rebuilds from a level.
double rebuilt(int level, double step, bool intra) {
    if (level == 0) return 0;
    return intra ? level * step : (level + 0.5) * step;
}

// Bits a block saves once it has no level left: its end of block, and
// about what its bit in the coded block pattern costs.
constexpr int kEmptyBlockBits = 4;

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
        const double x = std::abs(coef[at]);
        // Steps between levels: non-intra (2l+1) w q / 32, intra l w q / 16.
        const double step = tq.matrix[at] * tq.quantiserScale / 16.0;
        const int l = mag[i];
        const double eNow = x - rebuilt(l, step, tq.intra);
        const double eLow = x - rebuilt(l - 1, step, tq.intra);
        const double dDist = eLow * eLow - eNow * eNow;
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

}  // namespace zembra
