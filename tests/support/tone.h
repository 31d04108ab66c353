#pragma once
// The frequency of a test tone in decoded sound.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zembra::testing {

// Frequency of a sine in interleaved stereo 16-bit samples, from the sign
// changes of the left channel between the first and the last one (silence
// before and after does not count).
inline double toneHz(const std::vector<int16_t>& stereo, int rate) {
    size_t first = 0, last = 0;
    int changes = 0;
    for (size_t i = 2; i < stereo.size(); i += 2) {
        if ((stereo[i] < 0) == (stereo[i - 2] < 0)) continue;
        if (changes++ == 0) first = i / 2;
        last = i / 2;
    }
    return changes > 1 ? (changes - 1) / 2.0 / (double(last - first) / rate) : 0.0;
}

}  // namespace zembra::testing
