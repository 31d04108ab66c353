#pragma once
// The Format list presets as the MPEG writer needs them, for front ends that
// have no settings store of their own (the encode command). The application
// keeps its own copy of the list with the window texts.

#include <string>

namespace zembra {

inline constexpr double kFrameRates[5] = {24000.0 / 1001, 24.0, 25.0, 30000.0 / 1001, 30.0};

// The MPEG group of the output settings, at their stored defaults.
struct MpegSettings {
    int streamTypeSelected = 0;
    int mpegStream = 0;
    int width = 352, height = 288;
    int frameRateIndex = 1;
    int videoKbps = 150;
    int maxVideoKbps = 2600;
    int audioBitRate = 11;  // entry of the AudioBitRate list (10 = 224 kbit/s)
    int motionSearch = 0;
    int adaptiveQuant = 0;
    int cpu = 0;
    int dct = 0;
    int vbv = 20;
    int pulldown = 0;
    int quantMat = 0;
    double muxRate = 1.4;
    int paddMin = 30, paddMax = 90;
    int downSampling = 0;
};

struct FormatPreset {
    const char* name;
    int mpegStream;
    int width, height;   // 0: chosen by the frame rate (custom entries) or unchanged
    int videoKbps;       // 0: unchanged
    int vbv;             // -1: unchanged
    double muxRate;      // < 0: unchanged
    int frameRateIndex;  // -1: unchanged
    int downSampling;    // -1: unchanged
};

constexpr int kFormatCount = 15;
const FormatPreset& formatPreset(int index);
// Index of an entry given as a number or as its text (case-insensitive);
// -1 when none matches.
int findFormat(const std::string& nameOrIndex);
// Writes the entry's values into the settings, as choosing it in the list does.
void applyFormatPreset(int index, MpegSettings& s);

}  // namespace zembra
