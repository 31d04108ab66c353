#pragma once
// Interleaved signed 16-bit stereo PCM (left, right) waiting to be handed out
// with the video frames. Appends go to the end, takes come off the front.

#include <cstdint>
#include <vector>

namespace zembra {

struct PcmFifo {
    static constexpr int kCapacity = 200000;  // 16-bit values (100000 sample frames)

    PcmFifo() : data(kCapacity) {}

    std::vector<int16_t> data;
    int fill = 0;  // in 16-bit values

    void clear() { fill = 0; }
    int freeValues() const { return kCapacity - fill; }
    // Appends when the values fit; false (nothing appended) otherwise.
    bool append(const int16_t* values, int count);
    // Copies up to `count` values off the front into `out` (may be null) and
    // shifts the rest down; returns the number taken.
    int take(int16_t* out, int count);
    // Pads with silence or cuts from the end to exactly `values` (clamped to
    // the capacity); returns the change in values.
    int force(int values);
};

}  // namespace zembra
