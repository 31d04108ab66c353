#include "avi/codecs/formats.h"

#include <cstdlib>

namespace zembra::avi {

namespace {

void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) { return uint32_t(get16(p)) | uint32_t(get16(p + 2)) << 16; }

}  // namespace

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
    put32(b, size);
    put32(b, uint32_t(width));
    put32(b, uint32_t(height));
    put16(b, planes);
    put16(b, bitCount);
    put32(b, compression);
    put32(b, sizeImage);
    put32(b, uint32_t(xPelsPerMeter));
    put32(b, uint32_t(yPelsPerMeter));
    put32(b, clrUsed);
    put32(b, clrImportant);
    return b;
}

std::optional<BitmapInfoHeader> BitmapInfoHeader::fromBytes(const uint8_t* p, size_t n) {
    if (p == nullptr || n < 40 || get32(p) < 40) return std::nullopt;
    BitmapInfoHeader h;
    h.size = get32(p);
    h.width = int32_t(get32(p + 4));
    h.height = int32_t(get32(p + 8));
    h.planes = get16(p + 12);
    h.bitCount = get16(p + 14);
    h.compression = get32(p + 16);
    h.sizeImage = get32(p + 20);
    h.xPelsPerMeter = int32_t(get32(p + 24));
    h.yPelsPerMeter = int32_t(get32(p + 28));
    h.clrUsed = get32(p + 32);
    h.clrImportant = get32(p + 36);
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
    put16(b, formatTag);
    put16(b, channels);
    put32(b, samplesPerSec);
    put32(b, avgBytesPerSec);
    put16(b, blockAlign);
    put16(b, bitsPerSample);
    put16(b, uint32_t(extra.size()));
    b.insert(b.end(), extra.begin(), extra.end());
    return b;
}

std::optional<WaveFormat> WaveFormat::fromBytes(const uint8_t* p, size_t n) {
    if (p == nullptr || n < 16) return std::nullopt;
    WaveFormat w;
    w.formatTag = get16(p);
    w.channels = get16(p + 2);
    w.samplesPerSec = get32(p + 4);
    w.avgBytesPerSec = get32(p + 8);
    w.blockAlign = get16(p + 12);
    w.bitsPerSample = get16(p + 14);
    if (n >= 18) {
        size_t extraSize = get16(p + 16);
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
