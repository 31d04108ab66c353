#pragma once
// The hot loops of the Layer II encoder in one kernel table: a block of the
// analysis filter bank, a pass of the psycho-acoustic model's FFT and its
// per-line tonality measure. The
// plain entries are the reference; the SSE2 and AVX2 ones add the same
// products in the same order into every sum, so every level gives the same
// bits.

#include "platform/cpu.h"

namespace zembra::layer2 {

struct AnalysisTables {
    double window[512];         // prototype low-pass with the block signs folded in
    double cosColumns[64][32];  // cos((2k + 1)(i - 16) pi / 64) at [i][k]
};

// The spectrum lines of one frame beside the two frames before it.
struct SpectrumLines {
    const double* re;
    const double* im;
    // Magnitude and phase (unit vector) of each line in the previous frame.
    const double* lastR;
    const double* lastC;
    const double* lastS;
    // The same for the frame before that; replaced by this frame's.
    double* olderR;
    double* olderC;
    double* olderS;
    double* energy;            // out: re^2 + im^2 of each line
    double* unpredictability;  // out: 0 (predictable) .. 1; 0.4 from `predicted` up
    int count;                 // lines
    int predicted;             // lines below this one are measured
};

struct Layer2Kernels {
    // One block of the filter bank: the 512 newest input values x[0..511]
    // (newest first) are windowed and folded to 64, and a cosine matrix
    // turns those into the 32 subband samples out[0..31].
    void (*analyseBlock)(const AnalysisTables& t, const double* x, double* out);
    // One radix-2 pass over re + i im (n values): butterflies of span `half`
    // with the twiddles cs[k] + i sn[k], k < half.
    void (*fftPass)(double* re, double* im, int n, int half, const double* cs, const double* sn);
    // Energy and unpredictability of every line, which also moves the line
    // history on by a frame.
    void (*measureLines)(const SpectrumLines& lines);
};

// An FFT pass two butterflies wide (SSE2 where built, else plain): the wider
// kernels' pass for spans below four.
void fftPassNarrow(double* re, double* im, int n, int half, const double* cs, const double* sn);
// The plain measure of lines [from, to): the reference, and the tail of the
// wider kernels.
void measureLinesPlain(const SpectrumLines& lines, int from, int to);

// The table for a given level (entries the level lacks stay plain).
Layer2Kernels makeLayer2Kernels(CpuLevel level);
// The process-wide table, chosen once.
const Layer2Kernels& layer2Kernels();

}  // namespace zembra::layer2
