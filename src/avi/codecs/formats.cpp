#include "avi/codecs/formats.h"

#include <cstdlib>

#include "platform/byte_order.h"

namespace zembra::avi {

std::string fourccText(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = char((code >> (8 * i)) & 0xff);
        s += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return s;
}

std::vector<uint8_t> BitmapInfoHeader::bytes() const {
    std::vector<uint8_t> b;
    b.reserve(40);
    appendLe32(b, size);
    appendLe32(b, uint32_t(width));
    appendLe32(b, uint32_t(height));
    appendLe16(b, planes);
    appendLe16(b, bitCount);
    appendLe32(b, compression);
    appendLe32(b, sizeImage);
    appendLe32(b, uint32_t(xPelsPerMeter));
    appendLe32(b, uint32_t(yPelsPerMeter));
    appendLe32(b, clrUsed);
    appendLe32(b, clrImportant);
    return b;
}

std::optional<BitmapInfoHeader> BitmapInfoHeader::fromBytes(const uint8_t* p, size_t n) {
    if (p == nullptr || n < 40 || readLe32(p) < 40) return std::nullopt;
    BitmapInfoHeader h;
    h.size = readLe32(p);
    h.width = int32_t(readLe32(p + 4));
    h.height = int32_t(readLe32(p + 8));
    h.planes = readLe16(p + 12);
    h.bitCount = readLe16(p + 14);
    h.compression = readLe32(p + 16);
    h.sizeImage = readLe32(p + 20);
    h.xPelsPerMeter = int32_t(readLe32(p + 24));
    h.yPelsPerMeter = int32_t(readLe32(p + 28));
    h.clrUsed = readLe32(p + 32);
    h.clrImportant = readLe32(p + 36);
    return h;
}

BitmapInfoHeader rgbHeader(int width, int height, int bitCount) {
    BitmapInfoHeader h;
    h.width = width;
    h.height = height;
    h.bitCount = uint16_t(bitCount);
    h.compression = kBiRgb;
    h.sizeImage = uint32_t(width) * uint32_t(std::abs(height)) * uint32_t(bitCount / 8);
    return h;
}

BitmapInfoHeader yuy2Header(int width, int height) {
    BitmapInfoHeader h;
    h.width = width;
    h.height = height;
    h.bitCount = 16;
    h.compression = kCompressionYuy2;
    h.sizeImage = uint32_t(width) * uint32_t(std::abs(height)) * 2;
    return h;
}

std::vector<uint8_t> WaveFormat::bytes() const {
    std::vector<uint8_t> b;
    b.reserve(18 + extra.size());
    appendLe16(b, formatTag);
    appendLe16(b, channels);
    appendLe32(b, samplesPerSec);
    appendLe32(b, avgBytesPerSec);
    appendLe16(b, blockAlign);
    appendLe16(b, bitsPerSample);
    appendLe16(b, uint32_t(extra.size()));
    b.insert(b.end(), extra.begin(), extra.end());
    return b;
}

std::optional<WaveFormat> WaveFormat::fromBytes(const uint8_t* p, size_t n) {
    if (p == nullptr || n < 16) return std::nullopt;
    WaveFormat w;
    w.formatTag = readLe16(p);
    w.channels = readLe16(p + 2);
    w.samplesPerSec = readLe32(p + 4);
    w.avgBytesPerSec = readLe32(p + 8);
    w.blockAlign = readLe16(p + 12);
    w.bitsPerSample = readLe16(p + 14);
    if (n >= 18) {
        size_t extraSize = readLe16(p + 16);
        if (18 + extraSize > n) return std::nullopt;
        w.extra.assign(p + 18, p + 18 + extraSize);
    }
    return w;
}

WaveFormat pcmWaveFormat(int sampleRate) {
    WaveFormat w;
    w.formatTag = kWaveFormatPcm;
    w.channels = 2;
    w.samplesPerSec = uint32_t(sampleRate);
    w.avgBytesPerSec = uint32_t(sampleRate) * 4;
    w.blockAlign = 4;
    w.bitsPerSample = 16;
    return w;
}

}  // namespace zembra::avi
