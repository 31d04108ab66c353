#pragma once
// One block of the Layer II analysis filter bank: the 512 newest input
// values are windowed and folded to 64, and a cosine matrix turns those into
// the 32 subband samples. The plain loops and the SSE2 ones add the same
// products in the same order into every sum, so they give the same bits.

namespace zembra::layer2 {

struct AnalysisTables {
    double window[512];         // prototype low-pass with the block signs folded in
    double cosColumns[64][32];  // cos((2k + 1)(i - 16) pi / 64) at [i][k]
};

// x[0..511] newest first; out[0..31] the subband samples.
void analyseBlockPlain(const AnalysisTables& t, const double* x, double* out);
// The vector form where the build has it, else the plain one.
void analyseBlockFast(const AnalysisTables& t, const double* x, double* out);
// What the encoder calls: the vector form unless ZEMBRA_CPU=plain is set.
void analyseBlock(const AnalysisTables& t, const double* x, double* out);

}  // namespace zembra::layer2
