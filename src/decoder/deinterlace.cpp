#include "decoder/deinterlace.h"

#include <cstring>

#include "decoder/frame_kernels.h"

namespace zembra {

void interpolateOddRows(const uint8_t* src, uint8_t* dst, int width, int height) {
    const FrameKernels& k = frameKernels();
    const size_t w = size_t(width);
    for (int row = 0; row < height; ++row) {
        uint8_t* d = dst + w * size_t(row);
        if (row % 2 == 0 || row == height - 1) {
            // Even rows stay; an odd last row has no row below and repeats the one above.
            const uint8_t* s = src + w * size_t(row % 2 == 0 ? row : row - 1);
            std::memcpy(d, s, w);
        } else {
            k.averageRows(src + w * size_t(row - 1), src + w * size_t(row + 1), d, width);
        }
    }
}

void Deinterlacer::reset(const PlaneLayout& layout, int mode) {
    layout_ = layout;
    mode_ = mode;
    for (auto& p : previous_) p.clear();
}

void Deinterlacer::deinterlaceFrame(const uint8_t* const current[3], uint32_t frameNumber,
                                    uint8_t* const out[3]) {
    // Without a previous frame (the first one, or after a reset) the weave
    // modes interpolate instead.
    const bool havePrevious = !previous_[0].empty();
    int mode = mode_;
    if ((mode == 1 || mode == 2) && (frameNumber == 0 || !havePrevious)) mode = 3;

    for (int p = 0; p < 3; ++p) {
        const int w = layout_.planeWidth(p), h = layout_.planeHeight(p);
        const size_t size = layout_.planeSize(p);
        switch (mode) {
            case 1:
            case 2: {
                // Mode 1 takes odd rows from the previous frame, mode 2 even rows.
                const int fromPrevious = mode == 1 ? 1 : 0;
                for (int row = 0; row < h; ++row) {
                    const size_t at = size_t(w) * size_t(row);
                    const uint8_t* s =
                        (row % 2 == fromPrevious) ? previous_[p].data() + at : current[p] + at;
                    std::memcpy(out[p] + at, s, size_t(w));
                }
                break;
            }
            case 3:
                interpolateOddRows(current[p], out[p], w, h);
                break;
            default:
                std::memcpy(out[p], current[p], size);
                break;
        }
    }
    if (mode_ >= 1 && mode_ <= 3) {
        for (int p = 0; p < 3; ++p)
            previous_[p].assign(current[p], current[p] + layout_.planeSize(p));
    }
}

}  // namespace zembra
