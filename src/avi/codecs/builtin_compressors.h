#pragma once
// Makers of the compressors the registry offers.

#include <memory>

#include "avi/codecs/video_compressor.h"

namespace zembra::avi {

CompressorInfo uncompressedRgbInfo();
CompressorInfo uncompressedYuy2Info();
CompressorInfo xvidInfo();

std::unique_ptr<VideoCompressor> makeUncompressedRgb();
std::unique_ptr<VideoCompressor> makeUncompressedYuy2();
// nullptr when libxvidcore cannot be loaded.
std::unique_ptr<VideoCompressor> makeXvidCompressor();

}  // namespace zembra::avi
