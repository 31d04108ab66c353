#pragma once
// DVD sub-pictures (subtitles): packets of the chosen stream are collected
// into whole units, each unit is decoded into full-frame Y, Cb, Cr and alpha
// planes with its display window, and the frames whose time lies in the
// window get it blended in.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "decoder/frame_record.h"

namespace zembra {

// 16 colours, Y, Cr, Cb each (the order of the title's palette).
using SubpicturePalette = std::array<std::array<uint8_t, 3>, 16>;

struct SubpictureSettings {
    int subOffset = 0;     // rows the subtitle is moved down (negative: up)
    bool subColor = true;  // the title's palette, else white on black
    const SubpicturePalette* titlePalette = nullptr;
};

class Subpicture {
public:
    // Clears the planes (0, 128, 128, alpha 0), the assembly and the window
    // for pictures of width x height.
    void open(int width, int height, const SubpictureSettings& settings);
    // Drops a unit in assembly and the shown subtitle (after a seek).
    void reset();

    // Appends one packet's payload; a unit completed by it is decoded with
    // timeBase (seconds) as the time its delays count from.
    void subpictureAddPayload(const uint8_t* data, size_t count, double timeBase);

    // True when a decoded subtitle with visible pixels is due at `time`.
    bool covers(double time) const;
    // Blends the subtitle into a picture of the given layout.
    void overlaySubpicture(uint8_t* y, uint8_t* cb, uint8_t* cr, const PlaneLayout& layout) const;

    // Decoded state, for the overlay and for checking.
    double start() const { return start_; }
    double end() const { return end_; }
    int topRow() const { return top_; }  // -1 without visible pixels
    int bottomRow() const { return bottom_; }
    int unitsDecoded() const { return units_; }
    uint8_t alphaAt(int x, int y) const { return alpha_[index(x, y)]; }
    uint8_t lumaAt(int x, int y) const { return y_[index(x, y)]; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    size_t index(int x, int y) const { return size_t(y) * size_t(width_) + size_t(x); }
    void decodeUnit(const uint8_t* unit, size_t size, double timeBase);
    void decodeField(const uint8_t* unit, size_t size, size_t offset, int firstRow);

    int width_ = 0, height_ = 0;
    SubpictureSettings settings_;
    std::vector<uint8_t> assembly_;
    std::vector<uint8_t> y_, cb_, cr_, alpha_;
    double start_ = 0.0, end_ = -1.0;
    int top_ = -1, bottom_ = -1;
    int areaLeft_ = 0, areaRight_ = -1, areaTop_ = 0, areaBottom_ = -1;
    std::array<uint8_t, 4> colour_{}, contrast_{};
    SubpicturePalette palette_{};
    bool useTitlePalette_ = false;
    int units_ = 0;
};

}  // namespace zembra
