#pragma once
// Units handed from the encoders to the multiplexer: one coded picture or one
// audio frame, with its size in the elementary-stream store and its stamps.

#include <cstdint>

#include "mpeg/picture_type.h"

namespace zembra {

// A time in the 33-bit system-clock form: bit32 is the 33rd bit, base the low
// 32 bits of the 90 kHz count, ext the 27 MHz remainder (0..299).
struct ClockStamp {
    int bit32 = 0;
    std::uint32_t base = 0;
    int ext = 0;
};

struct VideoUnit {
    int size = 0;  // bytes in the video store that belong to this picture
    mpeg::PictureType type = mpeg::PictureType::I;
    ClockStamp dts;
    ClockStamp pts;
};

struct AudioUnit {
    int size = 0;
    ClockStamp pts;
};

}  // namespace zembra
