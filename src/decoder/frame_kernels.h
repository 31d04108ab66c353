#pragma once
// Per-pixel loops of the frame processing (deinterlace averaging, luminance
// filter, YUV to RGB rows). One plain version of each, overwritten entry by
// entry with SIMD versions the CPU has; tests build the table for any level
// and compare the entries with the plain ones.

#include <cstdint>

#include "platform/cpu.h"

namespace zembra {

struct FrameKernels {
    // dst[i] = (a[i] + b[i]) >> 1 (truncating).
    void (*averageRows)(const uint8_t* a, const uint8_t* b, uint8_t* dst, int n);
    // dst[i] = clamp(((src[i] * gain + 64) >> 7) + offset, 0, 255); gain 0..256.
    void (*luminance)(const uint8_t* src, uint8_t* dst, int n, int gain, int offset);
    // Chroma row to full width: c[i], then (c[i] + c[i + 1]) >> 1, the last
    // pair repeating the last sample; `width` output bytes from
    // (width + 1) / 2 samples.
    void (*upsampleRow)(const uint8_t* c, uint8_t* dst, int width);
    // One row with full-resolution chroma to B, G, R, 0 bytes per pixel;
    // yOffset is subtracted from luma first (16 or 0).
    void (*yuvToBgra)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int n,
                      int yOffset);
    // The same with B, G, R bytes per pixel.
    void (*yuvToBgr)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int n,
                     int yOffset);
};

// The table for a given level (entries the level lacks stay plain).
FrameKernels makeFrameKernels(CpuLevel level);
// The process-wide table, chosen once.
const FrameKernels& frameKernels();

}  // namespace zembra
