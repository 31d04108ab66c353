#pragma once
// What the picture area of the main window shows: which frame (the next
// queued one, the file-list entry's snapshot, or during a rip every Render-th
// produced frame), in which view (the source with the crop rectangle, only
// for the Custom zoom, or the destination through the frame geometry).

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/output_geometry.h"

namespace zembra {

enum class PreviewPicture { None, QueuedFrame, Snapshot, RipFrame };

struct PreviewState {
    bool decoderOpen = false;
    bool audioOnly = false;
    bool ripping = false;
    bool plainRedraw = false;  // a repaint, not a new position
    int64_t ripFrame = 0;      // frames produced so far in the rip
    int render = 25;           // Render setting: draw every Render-th frame
};

// The picture to draw now, or None.
PreviewPicture choosePreviewPicture(const PreviewState& state);

// The source view is for the Custom zoom only; any other zoom clears the flag.
bool useSourceView(int ratio, bool& renderSourceFlag);

// "(%3d,%3d) (%3d,%3d) [%3d,%3d] ": the crop corners and its size in source pixels.
std::string cropLabel(int x1, int y1, int x2, int y2);

struct PreviewRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};
// Where the source frame goes in the picture area: a 2-pixel margin, and
// without 4:3 correction a band whose height follows the aspect factor
// (height / width of the shown picture); the rest is hatched.
PreviewRect sourceViewRect(int areaWidth, int areaHeight, bool correct43, double aspectFactor);

// Three planes at the output size, ready to draw.
struct PreviewImage {
    int width = 0, height = 0, chromaWidth = 0, chromaHeight = 0;
    std::vector<uint8_t> y, cb, cr;
};

// The destination view: the frame through the frame geometry. False when
// the geometry is not ready.
bool renderDestination(const OutputGeometry& geometry, const uint8_t* const frame[3],
                       PreviewImage& image);

}  // namespace zembra
