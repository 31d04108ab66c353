#include "encoder/presets.h"

#include <cctype>
#include <cstdlib>

namespace zembra {

namespace {
const FormatPreset kPresets[kFormatCount] = {
    {"Custom MPEG1", 0, 0, 0, 1150, 20, 1.4, -1, -1},
    {"Custom MPEG2", 1, 0, 0, 2376, 112, 5.6, -1, -1},
    {"AVI (DivX, XviD, MP43, YUV,...)", 2, 0, 0, 0, -1, -1, -1, -1},
    {"DVD NTSC Long Play", 1, 720, 480, 2150, -1, -1, 3, 0},
    {"DVD NTSC Standart Play", 1, 720, 480, 4600, -1, -1, 3, 0},
    {"DVD NTSC Good Quality", 1, 720, 480, 6200, -1, -1, 3, 0},
    {"DVD NTSC High Quality", 1, 720, 480, 9400, -1, -1, 3, 0},
    {"SVCD NTSC Great Quality", 1, 480, 480, 2350, -1, -1, 3, 1},
    {"VCD NTSC Good Quality", 0, 352, 240, 1150, -1, -1, 3, 1},
    {"DVD PAL Long Play", 1, 720, 576, 2150, -1, -1, 2, 0},
    {"DVD PAL Standart Play", 1, 720, 576, 4600, -1, -1, 2, 0},
    {"DVD PAL Good Quality", 1, 720, 576, 4600, -1, -1, 2, 0},
    {"DVD PAL High Quality", 1, 720, 576, 9400, -1, -1, 2, 0},
    {"SVCD PAL Great Quality", 1, 480, 576, 2350, -1, -1, 2, 1},
    {"VCD PAL Good Quality", 0, 352, 288, 1150, -1, -1, 2, 1}};

bool sameText(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}
}  // namespace

const FormatPreset& formatPreset(int index) { return kPresets[index]; }

int findFormat(const std::string& s) {
    if (!s.empty() && s.find_first_not_of("0123456789") == std::string::npos) {
        int n = std::atoi(s.c_str());
        return n >= 0 && n < kFormatCount ? n : -1;
    }
    for (int i = 0; i < kFormatCount; ++i)
        if (sameText(s, kPresets[i].name)) return i;
    return -1;
}

void applyFormatPreset(int index, MpegSettings& s) {
    const FormatPreset& f = kPresets[index];
    s.streamTypeSelected = index;
    s.mpegStream = f.mpegStream;
    if (index == 2) return;
    s.audioBitRate = 10;  // 224 kbit/s, the rate of Video CD sound
    if (f.frameRateIndex >= 0) s.frameRateIndex = f.frameRateIndex;
    if (f.downSampling >= 0) s.downSampling = f.downSampling;
    if (f.width) {
        s.width = f.width;
        s.height = f.height;
    } else {
        // The custom entries follow the frame rate: NTSC or PAL sizes.
        const int base = index == 0 ? 352 : 480;
        if (s.frameRateIndex == 0 || s.frameRateIndex == 3) {
            s.width = base;
            s.height = index == 0 ? 240 : 480;
        } else if (s.frameRateIndex == 2) {
            s.width = base;
            s.height = index == 0 ? 288 : 576;
        }
    }
    if (f.videoKbps) s.videoKbps = f.videoKbps;
    if (f.vbv >= 0) s.vbv = f.vbv;
    if (f.muxRate >= 0) s.muxRate = f.muxRate;
}

}  // namespace zembra
