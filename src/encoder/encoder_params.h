#pragma once
// The parameter record the MPEG writer fills at opening and the video encoder,
// the Layer II encoder and the multiplexer read.

#include <array>
#include <cstdint>
#include <string>

#include "mpeg/scan_tables.h"

namespace zembra {

constexpr int kGopSize = 15;        // N
constexpr int kAnchorDistance = 3;  // M
// MotionSearch levels: 0-3 search fixed windows growing with the level; 4
// ("Best") searches from predicted vectors over the f_code's whole range and
// decides the macroblock modes by their rate.
constexpr int kBestMotionSearch = 4;
constexpr int kMotionSearchLevels = 5;
// Steps of the Best level's adaptive quantisation, 0 (none) to as far as
// TM5 goes (the last).
constexpr int kAdaptiveQuantLevels = 5;

// The largest picture side a stream can state: 12 bits in the MPEG-1
// sequence header, 14 with the MPEG-2 sequence extension.
constexpr int kMaxMpeg1Side = 4095;
constexpr int kMaxMpeg2Side = 16383;

struct FrameRateInfo {
    double rate = 0;
    int frameRateCode = 0;
    int videoFormat = 0;      // 1 PAL, 2 NTSC
    int colourPrimaries = 0;  // equal to transfer_characteristics
};

// Matches a rate within 0.01 of 23.97, 24, 25, 29.97, 30; false when none does.
bool matchFrameRate(double rate, FrameRateInfo& out);

// f_code for a search range in pels; vertical MPEG-1 stops at 4.
int fCodeFor(int range, bool mpeg2, bool vertical);

// Non-intra matrix of the "Default" choice (natural order).
std::array<std::uint8_t, 64> defaultNonIntraMatrix();
// Intra matrix of the "Default" choice at the Best motion search below the
// highest rates: halfway between the standard one and flat (natural order).
std::array<std::uint8_t, 64> bestIntraMatrix();

struct EncoderParams {
    // Output and input.
    std::string outputPath;
    std::string basePath;
    int pieceNumber = 1;
    bool overwrite = false;
    int frameCount = 0;
    int width = 0, height = 0;
    int chromaCode = 1;  // 1: 4:2:0 input, 3: 4:4:4 input
    int cpuChoice = 3;   // 0 MMX, 1 3DNow, 2 SSE2, 3 plain
    bool simd = false;
    int dctChoice = 0;  // 0, 1 integer; 2 floating point
    int threads = 1;    // the video encoder's threads (1: none beside the caller)

    // Video sequence.
    int streamKind = 1;  // 1 MPEG-1, 3 MPEG-2
    bool mpeg2 = false;
    int aspectRatio = 8;
    FrameRateInfo rate;
    double frameRate = 25.0;  // as passed in
    double bitRate = 0;       // bit/s
    double maxBitRate = 0;
    int vbvSize = 20;  // units of 16384 bits
    int constrainedParameters = 1;
    int progressiveSequence = 1;
    int progressiveFrame = 1;
    int intraDcPrecision = 0;  // code: 0 = 8 bits, 1 = 9 bits
    int profileLevel = 0x48;
    int chromaFormat = 1;
    int matrixCoefficients = 5;
    int lowDelay = 0;
    bool pulldown = false;
    int quantMat = 1;  // 0 "Default" (transmitted; Best: its own), 1 flat
    bool loadNonIntra = false;
    bool loadIntra = false;
    std::array<std::uint8_t, 64> intraMatrix{};
    std::array<std::uint8_t, 64> nonIntraMatrix{};

    // Motion search.
    int motionSearch = 0;
    int searchRange = 3;  // r = 3*s + 3 pels per picture distance (16 for Best)
    // Best only: how far the quantiser follows the macroblocks' activity,
    // 0 (one quantiser for the picture) to 1 (as far as TM5 does).
    double adaptiveQuant = 0.0;
    int pRange = 9;
    int bForwardRange[3] = {0, 3, 6};  // by distance k = 1, 2
    int bBackwardRange = 2;
    int pFcode = 2;
    int bForwardFcode[3] = {1, 1, 1};
    int bBackwardFcode = 1;

    // Audio.
    int audioBitrateIndex = 11;

    // Multiplex.
    bool svcdLayout = false;  // MuxLayout::Svcd for MPEG-2, Vcd for MPEG-1
    double muxRateFactor = 1.014;
    int paddMin = 30, paddMax = 90;
};

// Applies the MPEG-1 or MPEG-2 column and the derived tables (matrices,
// ranges, f_codes) for the stream kind, motion search and matrix choice
// already stored in `p`.
void applyStreamTables(EncoderParams& p);

}  // namespace zembra
