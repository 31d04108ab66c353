#pragma once
// The main window's output choices: the Format list with its presets, the
// Zoom and Split lists, and the Adjust Output Resolution commands.

#include <optional>
#include <string>
#include <vector>

#include "app/settings_store.h"

namespace zembra {

class UiHost;
struct GeometryParams;

inline constexpr int kFormatCount = 15;
inline constexpr int kFormatAvi = 2;  // "AVI (DivX, XviD, MP43, YUV,...)"
inline constexpr int kZoomCount = 5;
inline constexpr int kZoomCustom = 4;
inline constexpr int kSplitCount = 6;
inline constexpr int kSplitCustom = 5;

// String-table keys of the list entries, in list order.
std::string formatKey(int index);  // STR_MAIN_COMBO_Format_<n>
std::string zoomKey(int index);    // STR_MAIN_COMBO_Zoom_<n>
std::string splitKey(int index);   // STR_MAIN_COMBO_Split_<n>

// Finds a Format entry by its index ("13") or its text, compared without
// regard to case ("SVCD PAL Great Quality").
std::optional<int> findFormat(const UiHost& host, const std::string& indexOrText);

// Choosing Format entry `index`: its preset values, StreamTypeSelected and
// MPEGStream; MaxFrames is recomputed from the title duration.
void applyFormat(int index, InputSettings& input, OutputSettings& output);

// Expected frame count: duration in seconds x the output frame rate, truncated.
int computeMaxFrames(const InputSettings& input);

// Choosing a Zoom entry sets Ratio and the render-source flag.
void applyZoom(int ratio, OutputSettings& output);

// Piece limit in MB of a Split entry (0 = no split).
int splitLimitMB(const OutputSettings& output);

// Crop rectangle in source pixels (multiples of 4 across, of 2 down).
struct CropPixels {
    int x1, x2, y1, y2;
    int width() const { return x2 - x1; }
    int height() const { return y2 - y1; }
};
CropPixels cropToPixels(const OutputSettings& output, int sourceWidth, int sourceHeight);

// What the output-geometry step needs of the settings.
GeometryParams geometryParams(const InputSettings& input, const OutputSettings& output);

// Adjust Output Resolution: the proposed size, asked with
// "%s (%d,%d)\n%s" before it is applied. Returns true when applied.
enum class AdjustMode { Correct43, Selection, PreserveRatio };
struct ProposedSize {
    int width, height;
};
ProposedSize proposeOutputSize(AdjustMode mode, const OutputSettings& output, int sourceWidth,
                               int sourceHeight);
bool adjustOutputResolution(UiHost& host, AdjustMode mode, OutputSettings& output, int sourceWidth,
                            int sourceHeight);

}  // namespace zembra
