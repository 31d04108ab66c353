#pragma once
// Colour conversion of output-size planes into the pixel formats the video
// compressors take: 32-bit and 24-bit RGB (bottom-up, B G R order) and packed
// YUY2 (top-down). Each returns a newly allocated buffer the caller owns.

#include <cstdint>
#include <vector>

#include "platform/status.h"

namespace zembra {

enum class ExportFormat { Rgb32, Rgb24, Yuy2, Yv12 };

// chromaFormat 1 (4:2:0) upsamples chroma both ways, 2 (4:2:2) only
// horizontally, 3 (4:4:4) not at all. Chroma planes are (width + 1) / 2 wide
// unless 4:4:4, (height + 1) / 2 high for 4:2:0.
// RGB32: width x height x 4 bytes, B G R 0, luma offset 16.
std::vector<uint8_t> convertToRgb32(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                    int width, int height, int chromaFormat = 1);
// RGB24: width x height x 3 + 4 bytes, B G R, luma without offset.
std::vector<uint8_t> convertToRgb24(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                    int width, int height, int chromaFormat = 1);
// YUY2: width x height x 2 bytes, Y0 Cb Y1 Cr. The rows between 4:2:0 chroma
// rows are (above + below) >> 1, or rounded up with IdctVariant 2.
std::vector<uint8_t> convertToYuy2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                   int width, int height, int idctVariant = 1,
                                   int chromaFormat = 1);

// The conversion for the chosen export format; YV12 is refused (its
// message in the status) with an empty buffer.
Status convertForExport(ExportFormat format, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                        int width, int height, int idctVariant, int chromaFormat,
                        std::vector<uint8_t>& out);

// Full-size chroma plane from a subsampled one, as the RGB conversions use it.
std::vector<uint8_t> upsampleChroma(const uint8_t* c, int width, int height, int chromaFormat);

}  // namespace zembra
