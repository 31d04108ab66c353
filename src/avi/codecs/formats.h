#pragma once
// The picture and sound format records that go into AVI stream headers and
// that the video compressors and audio converters agree on, laid out byte for
// byte as BITMAPINFOHEADER and WAVEFORMATEX (little-endian).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "avi/riff/le_buffer.h"

namespace zembra::avi {

using riff::fourcc;
// "XVID" back from the code; non-printable bytes become '?'.
std::string fourccText(uint32_t code);

constexpr uint32_t kBiRgb = 0;                     // uncompressed RGB rows, bottom-up
constexpr uint32_t kTypeVideo = fourcc("vidc");    // compressor type of every video codec
constexpr uint32_t kHandlerDib = fourcc("DIB ");   // built-in uncompressed RGB
constexpr uint32_t kHandlerYuy2 = fourcc("YUY2");  // built-in uncompressed YUY2
constexpr uint32_t kHandlerXvid = fourcc("XVID");  // MPEG-4 ASP through libxvidcore
constexpr uint32_t kCompressionYuy2 = fourcc("YUY2");
constexpr uint32_t kCompressionXvid = fourcc("XVID");

struct BitmapInfoHeader {  // BITMAPINFOHEADER, 40 bytes
    uint32_t size = 40;
    int32_t width = 0, height = 0;  // height > 0: RGB rows stored bottom-up
    uint16_t planes = 1, bitCount = 0;
    uint32_t compression = kBiRgb;  // kBiRgb or a FOURCC
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0, yPelsPerMeter = 0;
    uint32_t clrUsed = 0, clrImportant = 0;

    std::vector<uint8_t> bytes() const;
    static std::optional<BitmapInfoHeader> fromBytes(const uint8_t* data, size_t size);
    bool operator==(const BitmapInfoHeader&) const = default;
};

// The input descriptions the writer hands to compressors: 32 or 24-bit RGB
// (BI_RGB, bottom-up, rows of width x bytes-per-pixel) and packed YUY2.
BitmapInfoHeader rgbHeader(int width, int height, int bitCount);
BitmapInfoHeader yuy2Header(int width, int height);

constexpr uint16_t kWaveFormatPcm = 0x0001;
constexpr uint16_t kWaveFormatMpegLayer3 = 0x0055;
constexpr uint16_t kWaveFormatMpeg = 0x0050;  // MPEG-1 Layer I/II

struct WaveFormat {  // WAVEFORMATEX followed by cbSize = extra.size() bytes
    uint16_t formatTag = kWaveFormatPcm, channels = 2;
    uint32_t samplesPerSec = 44100, avgBytesPerSec = 176400;
    uint16_t blockAlign = 4, bitsPerSample = 16;
    std::vector<uint8_t> extra;

    std::vector<uint8_t> bytes() const;  // 18 + extra.size() bytes
    static std::optional<WaveFormat> fromBytes(const uint8_t* data, size_t size);
    bool operator==(const WaveFormat&) const = default;
};

// 16-bit stereo PCM at the given rate: the source format of every converter.
WaveFormat pcmWaveFormat(int sampleRate);

}  // namespace zembra::avi
