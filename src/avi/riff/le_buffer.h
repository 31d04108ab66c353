#pragma once
// Little-endian record building for RIFF headers and index chunks.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/byte_order.h"

namespace zembra::avi::riff {

// A four-character code as the 32-bit number it is stored as.
constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

class LeBuffer {
public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16(uint16_t v) { appendLe16(bytes_, v); }
    void u32(uint32_t v) { appendLe32(bytes_, v); }
    void u64(uint64_t v) {
        u32(uint32_t(v));
        u32(uint32_t(v >> 32));
    }
    void fcc(uint32_t v) { u32(v); }
    void append(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void append(const std::vector<uint8_t>& v) { bytes_.insert(bytes_.end(), v.begin(), v.end()); }
    void zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
    // Pads to an even length, as every RIFF chunk is.
    void pad() {
        if (bytes_.size() & 1) u8(0);
    }
    void put32(size_t at, uint32_t v) { writeLe32(&bytes_[at], v); }

    size_t size() const { return bytes_.size(); }
    const uint8_t* data() const { return bytes_.data(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace zembra::avi::riff
