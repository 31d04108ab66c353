// The encoder's VBV model: where the first picture is decoded, the bounds a
// picture's size must keep, and the counts of the rules broken.

#include "encoder/vbv_model.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zembra {
namespace {

constexpr double kBuffer = 112 * 16384.0;  // SVCD's
constexpr double kRate = 2350000;
constexpr double kPeriod = 90000.0 / 25;

// The first picture is decoded once the buffer holds seven eighths of its
// size; a picture may not take more than the buffer then holds nor less than
// keeps it from running full, and a
// stream that keeps to the bounds breaks no rule.
TEST(VbvModel, FirstDelayBoundsAndAStreamThatKeepsThem) {
    VbvModel vbv;
    vbv.start(kBuffer, kRate, true);
    VbvPicture first = vbv.next(true, kPeriod, 0);
    EXPECT_NEAR(first.delay, 7.0 / 8.0 * kBuffer * 90000.0 / kRate, 1e-6);
    EXPECT_EQ(first.field, static_cast<int>(first.delay));
    // The buffer must not run full within a tenth of a second: the rest of
    // it has to be taken by the first picture (to a whole byte).
    EXPECT_NEAR(first.lowerBound, 0.1 * kRate - kBuffer / 8, 8);
    EXPECT_LE(first.upperBound, 7.0 / 8.0 * kBuffer);
    EXPECT_GT(first.upperBound, 7.0 / 8.0 * kBuffer - 300);

    long long bits = 0;
    for (int i = 0; i < 100; ++i) {
        const VbvPicture v = i == 0 ? first : vbv.next(i % 3 == 1, kPeriod, bits);
        // A picture of the average size, kept within the bounds.
        double size = kRate / 25;
        size = std::max(size, v.lowerBound);
        size = std::min(size, v.upperBound);
        bits += static_cast<long long>(size);
        vbv.pictureEnd(bits);
    }
    EXPECT_EQ(vbv.overflows(), 0);
    EXPECT_EQ(vbv.underflows(), 0);
}

// A picture larger than the buffer holds at its decoding time underflows;
// pictures far smaller than the rate fills the buffer overflow its delay.
// MPEG-1 (no delay written) counts neither.
TEST(VbvModel, CountsUnderflowsAndOverflowsForMpeg2Only) {
    for (bool mpeg2 : {true, false}) {
        VbvModel vbv;
        vbv.start(kBuffer, kRate, mpeg2);
        vbv.next(true, kPeriod, 0);
        long long bits = static_cast<long long>(kBuffer);  // more than 7/8 of it
        vbv.pictureEnd(bits);
        EXPECT_EQ(vbv.underflows(), mpeg2 ? 1 : 0);
        // Nothing sent after the first picture: the buffer runs full.
        VbvModel idle;
        idle.start(kBuffer, kRate, mpeg2);
        for (int i = 0; i < 40; ++i) {
            idle.next(true, kPeriod, 0);
            idle.pictureEnd(0);
        }
        EXPECT_EQ(idle.overflows() > 0, mpeg2);
    }
}

}  // namespace
}  // namespace zembra
