#pragma once
// The headers of the video stream as the encoder writes them: the sequence
// header (with the MPEG-2 extensions), the GOP header and the picture header
// with its coding extension.

#include "encoder/encoder_params.h"
#include "mpeg/bit_writer.h"
#include "mpeg/picture_type.h"

namespace zembra {

void writeSequenceHeader(mpeg::BitWriter& bw, const EncoderParams& p);

// A GOP whose first picture in display order is number `firstDisplay`; the
// time code counts whole pictures at the nearest whole frame rate.
void writeGopHeader(mpeg::BitWriter& bw, const EncoderParams& p, int firstDisplay, bool closed);

struct PictureHeader {
    mpeg::PictureType type = mpeg::PictureType::I;
    int temporalReference = 0;
    int vbvDelay = 0xFFFF;  // as written for MPEG-2; MPEG-1 always writes 0xFFFF
    int fcodeF = 1, fcodeB = 1;
    int topFieldFirst = 0, repeatFirstField = 0;
    bool nonLinearQuant = false;  // q_scale_type
};

void writePictureHeader(mpeg::BitWriter& bw, const EncoderParams& p, const PictureHeader& h);

}  // namespace zembra
