#pragma once
// Layer II allocation tables and quantisation classes (ISO/IEC 11172-3).

#include <cstdint>

namespace zembra::layer2 {

struct QuantClass {
    int levels;  // odd number of quantisation steps
    int bits;    // bits per codeword (one codeword per 3 samples when grouped)
    bool grouped;
    double snr;  // signal-to-noise ratio the class gives, dB
};

// Class 0 is "no allocation"; 1..17 as in the standard.
inline constexpr QuantClass kClasses[18] = {
    {0, 0, false, 0.00},       {3, 5, true, 7.00},        {5, 7, true, 11.00},
    {7, 3, false, 16.00},      {9, 10, true, 20.84},      {15, 4, false, 25.28},
    {31, 5, false, 31.59},     {63, 6, false, 37.75},     {127, 7, false, 43.84},
    {255, 8, false, 49.89},    {511, 9, false, 55.93},    {1023, 10, false, 61.96},
    {2047, 11, false, 67.98},  {4095, 12, false, 74.01},  {8191, 13, false, 80.03},
    {16383, 14, false, 86.05}, {32767, 15, false, 92.01}, {65535, 16, false, 98.01},
};

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

inline constexpr int kBitrateKbps[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                         128, 160, 192, 224, 256, 320, 384};

}  // namespace zembra::layer2
