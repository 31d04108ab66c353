#include "app/output_options.h"

#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "geometry/output_geometry.h"
#include "platform/ui_host.h"

namespace zembra {

namespace {

struct FormatPreset {
    int mpegStream;
    // Fixed size, or 0 for the rules of the custom entries.
    int width, height;
    int videoBitRate;  // 0: unchanged
    int downSampling;  // -1: unchanged
    int frameRate;     // -1: unchanged
};

constexpr FormatPreset kPresets[kFormatCount] = {
    {0, 0, 0, 1150, -1, -1},    // Custom MPEG1
    {1, 0, 0, 2376, -1, -1},    // Custom MPEG2
    {2, 0, 0, 0, -1, -1},       // AVI
    {1, 720, 480, 2150, 0, 3},  // DVD NTSC Long Play
    {1, 720, 480, 4600, 0, 3},  // DVD NTSC Standart Play
    {1, 720, 480, 6200, 0, 3},  // DVD NTSC Good Quality
    {1, 720, 480, 9400, 0, 3},  // DVD NTSC High Quality
    {1, 480, 480, 2350, 1, 3},  // SVCD NTSC Great Quality
    {0, 352, 240, 1150, 1, 3},  // VCD NTSC Good Quality
    {1, 720, 576, 2150, 0, 2},  // DVD PAL Long Play
    {1, 720, 576, 4600, 0, 2},  // DVD PAL Standart Play
    {1, 720, 576, 4600, 0, 2},  // DVD PAL Good Quality (kept at 4600 as shipped)
    {1, 720, 576, 9400, 0, 2},  // DVD PAL High Quality
    {1, 480, 576, 2350, 1, 2},  // SVCD PAL Great Quality
    {0, 352, 288, 1150, 1, 2},  // VCD PAL Good Quality
};

std::string indexedKey(const char* prefix, int index) {
    return std::string(prefix) + std::to_string(index);
}

int roundDownEven(int v) { return v & ~1; }

}  // namespace

std::string formatKey(int index) { return indexedKey("STR_MAIN_COMBO_Format_", index); }
std::string zoomKey(int index) { return indexedKey("STR_MAIN_COMBO_Zoom_", index); }
std::string splitKey(int index) { return indexedKey("STR_MAIN_COMBO_Split_", index); }

std::optional<int> findFormat(const UiHost& host, const std::string& indexOrText) {
    if (!indexOrText.empty() && indexOrText.find_first_not_of("0123456789") == std::string::npos) {
        int index = std::atoi(indexOrText.c_str());
        if (index >= 0 && index < kFormatCount) return index;
        return std::nullopt;
    }
    for (int i = 0; i < kFormatCount; ++i)
        if (strcasecmp(host.text(formatKey(i)).c_str(), indexOrText.c_str()) == 0) return i;
    return std::nullopt;
}

// The title's whole length, its last fraction of a second included: the
// output holds every picture and all the sound of the title.
int computeMaxFrames(const InputSettings& input) {
    return static_cast<int>(std::llround(input.duration * FrameRateTable::fps(input.frameRate)));
}

void applyFormat(int index, InputSettings& input, OutputSettings& output) {
    if (index < 0 || index >= kFormatCount) return;
    const FormatPreset& p = kPresets[index];
    output.formatIndex = index;
    output.mpegStream = p.mpegStream;
    if (p.downSampling >= 0) input.downSampling = p.downSampling;
    if (p.frameRate >= 0) input.frameRate = p.frameRate;
    if (p.width) {
        output.width = p.width;
        output.height = p.height;
    } else if (index <= 1) {
        // The custom entries follow the frame rate: NTSC rates give the
        // 240/480-line size, 25 fps the PAL one, 24 and 30 keep the size.
        int fr = input.frameRate;
        if (fr == 0 || fr == 3) {
            output.width = index == 0 ? 352 : 480;
            output.height = index == 0 ? 240 : 480;
        } else if (fr == 2) {
            output.width = index == 0 ? 352 : 480;
            output.height = index == 0 ? 288 : 576;
        }
        output.vbvBufferSize = index == 0 ? 20 : 112;
        output.muxRate = index == 0 ? 1.4 : 5.6;
    }
    if (p.videoBitRate) output.videoBitRate = p.videoBitRate;
    if (index != kFormatAvi) output.audioBitRate = 10;
    output.maxFrames = computeMaxFrames(input);
}

void applyZoom(int ratio, OutputSettings& output) {
    if (ratio < 0 || ratio >= kZoomCount) return;
    output.zoomMode = ratio;
    output.renderSource = ratio == kZoomCustom;
}

int splitLimitMB(const OutputSettings& output) {
    switch (output.splitMode) {
        case 1:
            return 730;
        case 2:
            return 790;
        case 3:
            return 650;
        case 4:
            return 700;
        case 5:
            return output.splitSizeMB;
        default:
            return 0;
    }
}

GeometryParams geometryParams(const InputSettings& input, const OutputSettings& output) {
    GeometryParams g;
    g.width = output.width;
    g.height = output.height;
    g.ratio = output.zoomMode;
    g.videoResize = output.videoResize;
    g.x1 = output.cropLeft;
    g.x2 = output.cropRight;
    g.y1 = output.cropTop;
    g.y2 = output.cropBottom;
    g.sourceWidth = input.sourceWidth;
    g.sourceHeight = input.sourceHeight;
    g.chromaFormat = input.chromaFormat ? input.chromaFormat : 1;
    g.luminanceFilter = input.luminanceFilter;
    g.luminanceGain = input.luminanceGain;
    g.luminanceOffset = input.luminanceOffset;
    return g;
}

CropPixels cropToPixels(const OutputSettings& output, int ws, int hs) {
    return {cropToPixelsX(ws, output.cropLeft), cropToPixelsX(ws, output.cropRight),
            cropToPixelsY(hs, output.cropTop), cropToPixelsY(hs, output.cropBottom)};
}

ProposedSize proposeOutputSize(AdjustMode mode, const OutputSettings& output, int ws, int hs) {
    CropPixels crop = cropToPixels(output, ws, hs);
    switch (mode) {
        case AdjustMode::Correct43:
            return {output.width, roundDownEven(static_cast<int>(crop.height() *
                                                                 (ws / 1.7777777777777777 / hs)))};
        case AdjustMode::Selection:
            return {crop.width() & ~7, roundDownEven(crop.height())};
        case AdjustMode::PreserveRatio:
        default:
            return {output.width,
                    crop.width() > 0
                        ? roundDownEven(static_cast<int>(static_cast<double>(crop.height()) *
                                                         output.width / crop.width()))
                        : output.height};
    }
}

bool adjustOutputResolution(UiHost& host, AdjustMode mode, OutputSettings& output, int ws, int hs) {
    ProposedSize size = proposeOutputSize(mode, output, ws, hs);
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%s (%d,%d)\n%s", host.text("STR_ERROR_29").c_str(),
                  size.width, size.height, host.text("STR_ERROR_30").c_str());
    if (host.messageBox(BoxKind::Question, buffer) != BoxAnswer::Yes) return false;
    if (size.width < 16 || size.height < 16) return false;  // nothing sensible to apply
    output.width = size.width;
    output.height = size.height;
    return true;
}

}  // namespace zembra
