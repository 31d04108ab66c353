// Time stamps: the 5-byte PTS field and the 33-bit system-clock form the
// encoders hand to the multiplexer.

#include "mpeg/timestamps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace zembra::mpeg {
namespace {

TEST(Timestamps, PtsFieldDropsPrefixAndMarkers) {
    // All 33 bits set, with the '0011' prefix and every marker bit present.
    const std::uint8_t all[5] = {0x3F, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(readTimestamp(all), (std::uint64_t{1} << 33) - 1);
    // A value with the 33rd bit set, bit by bit as the field lays it out.
    const std::uint64_t pts = 0x123456789ull;
    const std::uint8_t field[5] = {std::uint8_t(0x21 | ((pts >> 29) & 0x0E)),
                                   std::uint8_t(pts >> 22), std::uint8_t(((pts >> 14) & 0xFE) | 1),
                                   std::uint8_t(pts >> 7), std::uint8_t(((pts << 1) & 0xFE) | 1)};
    EXPECT_EQ(readTimestamp(field), pts);
    EXPECT_EQ(timestampToMs(90 * 1234 + 89), 1234);

    std::uint8_t written[5];
    writeTimestamp(written, kPtsOnly, pts);
    EXPECT_EQ(std::vector<std::uint8_t>(written, written + 5),
              std::vector<std::uint8_t>(field, field + 5));
    writeTimestamp(written, kPtsBeforeDts, (std::uint64_t{1} << 34) | 7);
    EXPECT_EQ(written[0] >> 4, kPtsBeforeDts);
    EXPECT_EQ(readTimestamp(written), 7u) << "bits past the 33rd are dropped";
    EXPECT_EQ(written[0] & 1, 1);
    EXPECT_EQ(written[2] & 1, 1);
    EXPECT_EQ(written[4] & 1, 1);
}

TEST(Timestamps, NinetyKilohertzUnitsAreWholeAndNeverBeforeZero) {
    EXPECT_EQ(timestamp90kHz(299.9), 0u);
    EXPECT_EQ(timestamp90kHz(300.0 * 90000 + 299), 90000u);
    EXPECT_EQ(timestamp90kHz(-5000.0), 0u);
    EXPECT_EQ(timestamp90kHz(300.0 * ((std::uint64_t{1} << 33) + 4)), 4u)
        << "the count wraps at 33 bits as the field does";
}

TEST(Timestamps, ClockStampsRoundTripAndKeepTheRemainderOnlyWhenAsked) {
    // Past 2^32 units of 90 kHz, so the 33rd bit is used.
    const double x = 300.0 * 4294967296.0 + 300.0 * 5 + 123.7;
    const ClockStamp c = toClockStamp(x, true);
    EXPECT_EQ(c.bit32, 1);
    EXPECT_EQ(c.base, 5u);
    EXPECT_EQ(c.ext, 123);
    EXPECT_DOUBLE_EQ(clockTicks(c), std::floor(x));
    const ClockStamp whole = toClockStamp(x, false);
    EXPECT_EQ(whole.ext, 0);
    EXPECT_DOUBLE_EQ(clockTicks(whole), 300.0 * 4294967296.0 + 300.0 * 5);
    // Just below the 33rd bit.
    const ClockStamp below = toClockStamp(300.0 * 4294967295.0 + 299, true);
    EXPECT_EQ(below.bit32, 0);
    EXPECT_EQ(below.base, 4294967295u);
    EXPECT_EQ(below.ext, 299);
    // A time before the start has no 33-bit form; it must not wrap around.
    const ClockStamp early = toClockStamp(-1000.0, true);
    EXPECT_EQ(early.bit32, 0);
    EXPECT_EQ(early.base, 0u);
    EXPECT_EQ(early.ext, 0);
}

}  // namespace
}  // namespace zembra::mpeg
