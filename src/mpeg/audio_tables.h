#pragma once
// Tables of MPEG audio (ISO/IEC 11172-3 and 13818-3) that the decoder and
// the Layer II encoder share.

namespace zembra::mpeg {

// bit rate in kbit/s by ID (0 = MPEG-1, 1 = MPEG-2 low sampling rates),
// layer - 1 and bitrate_index; index 0 is the free format, 15 forbidden.
inline constexpr int kAudioBitrateKbps[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
// The MPEG-1 Layer II row, by bitrate_index.
inline constexpr const int (&kLayer2BitrateKbps)[15] = kAudioBitrateKbps[0][1];

// Sampling rate by ID and sampling_frequency.
inline constexpr int kAudioSampleRates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};

// Layer II quantisation classes: class 0 is "no allocation", 1..17 as in
// the standard's table of quantisation steps.
struct QuantClass {
    int levels;  // odd number of quantisation steps
    int bits;    // bits per codeword (one codeword per 3 samples when grouped)
    bool grouped;
};
inline constexpr QuantClass kLayer2Classes[18] = {
    {0, 0, false},      {3, 5, true},       {5, 7, true},      {7, 3, false},
    {9, 10, true},      {15, 4, false},     {31, 5, false},    {63, 6, false},
    {127, 7, false},    {255, 8, false},    {511, 9, false},   {1023, 10, false},
    {2047, 11, false},  {4095, 12, false},  {8191, 13, false}, {16383, 14, false},
    {32767, 15, false}, {65535, 16, false},
};

}  // namespace zembra::mpeg
