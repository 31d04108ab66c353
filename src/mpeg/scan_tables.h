#pragma once
// Scans, the default intra matrix and the non-linear quantiser scale of MPEG
// video, shared by the decoder and the encoder.

#include <array>
#include <cstdint>

namespace zembra::mpeg {

using Table64 = std::array<std::uint8_t, 64>;

// Scan position -> natural (row-major) index.
inline constexpr Table64 kZigZag = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
// Natural index -> scan position: the inverse of kZigZag.
inline constexpr Table64 kZigZagPosition = [] {
    Table64 t{};
    for (int n = 0; n < 64; ++n) t[kZigZag[n]] = static_cast<std::uint8_t>(n);
    return t;
}();
inline constexpr Table64 kAlternateScan = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

// The intra matrix a stream uses when it loads none (natural order).
inline constexpr Table64 kDefaultIntraMatrix = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

// quantiser_scale for q_scale_type 1, by quantiser_scale_code.
inline constexpr std::array<std::uint8_t, 32> kNonLinearQuant = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18, 20,  22,
    24, 28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

}  // namespace zembra::mpeg
