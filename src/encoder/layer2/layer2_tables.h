#pragma once
// Layer II allocation tables and quantisation classes (ISO/IEC 11172-3).

#include <cstdint>

#include "mpeg/audio_tables.h"

namespace zembra::layer2 {

// The signal-to-noise ratio each class of mpeg::kLayer2Classes gives, dB.
inline constexpr double kClassSnr[18] = {0.00,  7.00,  11.00, 16.00, 20.84, 25.28,
                                         31.59, 37.75, 43.84, 49.89, 55.93, 61.96,
                                         67.98, 74.01, 80.03, 86.05, 92.01, 98.01};

// Rows of allocation index -> class, by the shape of the subband's row.
inline constexpr int kRowA[16] = {0, 1, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
inline constexpr int kRowB[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17};
inline constexpr int kRowC[8] = {0, 1, 2, 3, 4, 5, 6, 17};
inline constexpr int kRowD[4] = {0, 1, 2, 17};
inline constexpr int kRowLowA[16] = {0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
inline constexpr int kRowLowB[8] = {0, 1, 2, 4, 5, 6, 7, 8};

struct SubbandRow {
    int nbal;
    const int* classes;
};

struct AllocTable {
    int sblimit;
    SubbandRow rows[32];
};

// 27 or 30 subbands (the higher rates) and 8 or 12 (the low rates).
inline AllocTable makeTable(int sblimit) {
    AllocTable t{};
    t.sblimit = sblimit;
    for (int sb = 0; sb < sblimit; ++sb) {
        if (sblimit <= 12) {
            t.rows[sb] = sb < 2 ? SubbandRow{4, kRowLowA} : SubbandRow{3, kRowLowB};
        } else if (sb < 3) {
            t.rows[sb] = {4, kRowA};
        } else if (sb < 11) {
            t.rows[sb] = {4, kRowB};
        } else if (sb < 23) {
            t.rows[sb] = {3, kRowC};
        } else {
            t.rows[sb] = {2, kRowD};
        }
    }
    return t;
}

}  // namespace zembra::layer2
