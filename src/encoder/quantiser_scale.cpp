#include "encoder/quantiser_scale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mpeg/scan_tables.h"

namespace zembra {

int quantiserScaleCode(int scale, bool nonLinear) {
    if (!nonLinear) return scale / 2;
    for (int code = 1; code < 32; ++code)
        if (mpeg::kNonLinearQuant[code] >= scale) return code;
    return 31;
}

int nearestQuantiserScale(double scale, bool nonLinear) {
    if (!nonLinear) return std::clamp(2 * static_cast<int>(std::floor(scale / 2 + 0.5)), 2, 62);
    // The table rises: the nearest is the first at or above, or the one
    // before it.
    const auto* first = mpeg::kNonLinearQuant.begin() + 2;
    const auto* above = std::lower_bound(first, mpeg::kNonLinearQuant.end(), scale,
                                         [](int s, double v) { return s < v; });
    if (above == mpeg::kNonLinearQuant.end()) return mpeg::kNonLinearQuant.back();
    if (above == first) return *first;
    return scale - above[-1] <= *above - scale ? above[-1] : *above;
}

int nearestOddSumScale(double scale) {
    int best = nearestQuantiserScale(scale, true);
    if (best >= 28 || best % 4 != 0) return best;
    double gap = 1e9;
    for (int code = 2; code < 32; ++code) {
        const int s = mpeg::kNonLinearQuant[code];
        if (s >= 28) break;
        if (s % 4 != 0 && std::abs(s - scale) < gap) {
            gap = std::abs(s - scale);
            best = s;
        }
    }
    return best;
}

namespace {

// The least magnitude each coefficient takes level 1 from, 3/4 of a step
// (w q / 16), for a matrix and scale. A coder asks for the same one block
// after block: the last of each thread is kept.
struct DeadZoneEdge {
    std::array<std::uint8_t, 64> matrix{};
    int q = -1;
    std::array<std::int16_t, 64> least{};
};

const DeadZoneEdge& deadZoneEdge(const std::uint8_t* matrix, int q) {
    thread_local DeadZoneEdge kept;
    if (kept.q != q || std::memcmp(kept.matrix.data(), matrix, 64) != 0) {
        std::memcpy(kept.matrix.data(), matrix, 64);
        kept.q = q;
        for (int i = 0; i < 64; ++i)
            kept.least[i] = static_cast<std::int16_t>((3 * matrix[i] * q + 63) / 64);
    }
    return kept;
}

}  // namespace

bool roundOutOfDeadZone(const EncoderKernels& k, const std::int16_t* coef, std::int16_t* level,
                        const std::uint8_t* matrix, int q) {
    return k.roundDeadZone(coef, level, deadZoneEdge(matrix, q).least.data()) != 0;
}

}  // namespace zembra
