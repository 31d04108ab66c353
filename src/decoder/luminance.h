#pragma once
// Luminance filter: Y' = clamp(((Y * gain + 64) >> 7) + offset, 0, 255) on the
// luma plane only; gain 128 is unity.

#include <cstdint>

namespace zembra {

struct LuminanceSettings {
    bool enabled = false;
    int gain = 128;  // 0..256
    int offset = 0;
};

void luminanceFilter(const uint8_t* in, uint8_t* out, int count, int gain, int offset);

// Luma of the letterbox bands: follows the filter when it is on.
uint8_t bandLuma(const LuminanceSettings& settings);

}  // namespace zembra
