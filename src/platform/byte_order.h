#pragma once
// Multi-byte fields in files and streams. The disc structures, program
// streams and sub-pictures store them big-endian; RIFF, WAV and the disc
// image headers little-endian. Reading byte by byte keeps the result the same
// on every host and needs no alignment.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zembra {

constexpr std::uint16_t readBe16(const std::uint8_t* p) {
    return std::uint16_t((p[0] << 8) | p[1]);
}
constexpr std::uint32_t readBe32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}
constexpr std::uint64_t readBe64(const std::uint8_t* p) {
    return (std::uint64_t(readBe32(p)) << 32) | readBe32(p + 4);
}
constexpr std::uint16_t readLe16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}
constexpr std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(readLe16(p)) | (std::uint32_t(readLe16(p + 2)) << 16);
}

// Writes over bytes that are already there (a header patched once its sizes
// are known).
inline void writeLe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void writeLe32(std::uint8_t* p, std::uint32_t v) {
    writeLe16(p, v & 0xFFFF);
    writeLe16(p + 2, v >> 16);
}

// Appends to a record being built.
inline void appendLe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}
inline void appendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    appendLe16(out, v & 0xFFFF);
    appendLe16(out, v >> 16);
}

}  // namespace zembra
