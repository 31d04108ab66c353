#pragma once
// Time stamps of MPEG systems streams: the 33-bit PTS/DTS of a PES header in
// 90 kHz units, and the system-clock form the encoders hand to the
// multiplexer, counted in ticks of the 27 MHz clock (300 ticks per 90 kHz
// unit).

#include <cmath>
#include <cstdint>

namespace zembra::mpeg {

// 33-bit PTS/DTS from its 5 bytes (the 4-bit prefix and marker bits dropped).
constexpr std::uint64_t readTimestamp(const std::uint8_t* p) {
    return (std::uint64_t(p[0] & 0x0E) << 29) | (std::uint64_t(p[1]) << 22) |
           (std::uint64_t(p[2] & 0xFE) << 14) | (std::uint64_t(p[3]) << 7) |
           (std::uint64_t(p[4]) >> 1);
}
// The prefixes of the 5-byte field: a PTS alone, a PTS before a DTS, that
// DTS. An MPEG-1 pack header carries its SCR in the same form with '0010'.
inline constexpr int kPtsOnly = 0x2, kPtsBeforeDts = 0x3, kDtsAfterPts = 0x1;

// Writes a 33-bit PTS/DTS (higher bits dropped) as its 5 bytes.
constexpr void writeTimestamp(std::uint8_t* p, int prefix, std::uint64_t t) {
    p[0] = static_cast<std::uint8_t>((prefix << 4) | ((t >> 29) & 0x0E) | 1);
    p[1] = static_cast<std::uint8_t>((t >> 22) & 0xFF);
    p[2] = static_cast<std::uint8_t>(((t >> 14) & 0xFE) | 1);
    p[3] = static_cast<std::uint8_t>((t >> 7) & 0xFF);
    p[4] = static_cast<std::uint8_t>(((t << 1) & 0xFE) | 1);
}

// A 27 MHz time as whole 90 kHz units in 33 bits; times before zero are zero.
inline std::uint64_t timestamp90kHz(double ticks27MHz) {
    if (ticks27MHz < 0) ticks27MHz = 0;
    return static_cast<std::uint64_t>(std::floor(ticks27MHz / 300.0)) & 0x1FFFFFFFFull;
}

constexpr std::int64_t timestampToMs(std::uint64_t pts) { return std::int64_t(pts / 90); }

// A time in the 33-bit system-clock form: bit32 is the 33rd bit, base the low
// 32 bits of the 90 kHz count, ext the 27 MHz remainder (0..299).
struct ClockStamp {
    int bit32 = 0;
    std::uint32_t base = 0;
    int ext = 0;
};

// The remainder is kept only where the stream layout carries it (SVCD);
// elsewhere the time is cut down to whole 90 kHz units. Times before zero
// have no 33-bit form and become zero.
inline ClockStamp toClockStamp(double ticks27MHz, bool withExtension) {
    const double ticks = ticks27MHz < 0 ? 0 : ticks27MHz;
    const double units = std::floor(ticks / 300.0);
    ClockStamp c;
    if (units > 4294967295.0) {
        c.bit32 = 1;
        c.base = static_cast<std::uint32_t>(units - 4294967296.0);
    } else {
        c.base = static_cast<std::uint32_t>(units);
    }
    c.ext = withExtension ? static_cast<int>(std::fmod(std::floor(ticks), 300.0)) : 0;
    return c;
}

inline double clockTicks(const ClockStamp& c) {
    return (static_cast<double>(c.bit32) * 4294967296.0 + static_cast<double>(c.base)) * 300.0 +
           c.ext;
}

}  // namespace zembra::mpeg
