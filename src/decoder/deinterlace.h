#pragma once
// Deinterlacing of every emitted frame. Modes: 0 none, 1 odd rows from the
// previous frame, 2 even rows from the previous frame, 3 odd rows
// interpolated. Modes 1 and 2 have no previous frame at the first emitted
// frame and interpolate like mode 3 there.

#include <cstdint>
#include <vector>

#include "decoder/frame_record.h"

namespace zembra {

class Deinterlacer {
public:
    // Forgets the previous frame; planes of the given layout follow.
    void reset(const PlaneLayout& layout, int mode);
    int mode() const { return mode_; }

    // Writes the deinterlaced picture of `current` to `out` (same layout;
    // `out` must not alias `current`).
    void deinterlaceFrame(const uint8_t* const current[3], uint32_t frameNumber,
                          uint8_t* const out[3]);

private:
    PlaneLayout layout_;
    int mode_ = 0;
    std::vector<uint8_t> previous_[3];  // allocated at the first frame
};

// Even rows kept, odd rows the truncating mean of their neighbours, a last
// odd row repeating the one above it.
void interpolateOddRows(const uint8_t* src, uint8_t* dst, int width, int height);

}  // namespace zembra
