#include "avi/wav_file.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <vector>

#include "avi/riff/le_buffer.h"

namespace zembra::avi {

using riff::fourcc;
using riff::LeBuffer;

bool WavFile::open(const std::string& path, int sampleRate) {
    dataBytes_ = 0;
    if (!sink_.open(path)) return false;
    LeBuffer b;
    b.fcc(fourcc("RIFF"));
    b.u32(0);
    b.fcc(fourcc("WAVE"));
    b.fcc(fourcc("fmt "));
    b.u32(16);
    b.u16(1);  // PCM
    b.u16(2);
    b.u32(uint32_t(sampleRate));
    b.u32(uint32_t(sampleRate) * 4);
    b.u16(4);
    b.u16(16);
    b.fcc(fourcc("data"));
    b.u32(0);
    if (!sink_.append(b.data(), b.size())) {
        (void)sink_.close();
        return false;
    }
    return true;
}

bool WavFile::write(const void* data, size_t size) {
    if (!sink_.append(data, size)) return false;
    dataBytes_ += size;
    return true;
}

bool WavFile::writeSamples(const int16_t* samples, size_t count) {
    if constexpr (std::endian::native == std::endian::little)
        return write(samples, count * sizeof(int16_t));
    std::vector<uint8_t> bytes;
    bytes.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) appendLe16(bytes, uint16_t(samples[i]));
    return write(bytes.data(), bytes.size());
}

bool WavFile::setSampleRate(int sampleRate) {
    LeBuffer rates;
    rates.u32(uint32_t(sampleRate));
    rates.u32(uint32_t(sampleRate) * 4);
    return sink_.patch(24, rates.data(), rates.size());
}

bool WavFile::close() {
    if (!isOpen()) return true;
    // The size fields have 32 bits: past 4 GiB they stay at their largest
    // value rather than wrap to a small one.
    constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
    uint32_t data = uint32_t(std::min(dataBytes_, kMax - 36));
    LeBuffer d, r;
    d.u32(data);
    r.u32(data + 36);
    bool ok = sink_.patch(40, d.data(), 4);
    ok = sink_.patch(4, r.data(), 4) && ok;
    return sink_.close() && ok;
}

}  // namespace zembra::avi
