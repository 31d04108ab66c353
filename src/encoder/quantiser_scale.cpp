#include "encoder/quantiser_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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
    int best = mpeg::kNonLinearQuant[2];
    for (int code = 3; code < 32; ++code) {
        const int s = mpeg::kNonLinearQuant[code];
        if (std::abs(s - scale) < std::abs(best - scale)) best = s;
    }
    return best;
}

}  // namespace zembra
