#include "decoder/luminance.h"

#include <algorithm>

#include "decoder/frame_kernels.h"

namespace zembra {

void luminanceFilter(const uint8_t* in, uint8_t* out, int count, int gain, int offset) {
    // The kernels work in 16-bit lanes, which hold Y * gain only up to gain 256.
    frameKernels().luminance(in, out, count, std::clamp(gain, 0, 256), offset);
}

uint8_t bandLuma(const LuminanceSettings& settings) {
    if (!settings.enabled) return 16;
    const int v = int(double(settings.gain) * 16.0 / 128.0 + double(settings.offset));
    return uint8_t(std::clamp(v, 0, 255));
}

}  // namespace zembra
