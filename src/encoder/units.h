#pragma once
// Units handed from the encoders to the multiplexer: one coded picture or one
// audio frame, with its size in the elementary-stream store and its stamps.

#include <cstdint>

#include "mpeg/picture_type.h"
#include "mpeg/timestamps.h"

namespace zembra {

using mpeg::ClockStamp;

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
