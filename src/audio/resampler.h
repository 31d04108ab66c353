#pragma once
// 48000 -> 44100 Hz stereo resampler on the common 7056000 Hz grid
// (147 x 48000 = 160 x 44100) with a Kaiser-windowed (beta 10) sinc filter.
// Input fills a ring of two halves; each full half is filtered at once.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/cpu.h"

namespace zembra {

class Resampler {
public:
    static constexpr int kRingFrames = 32768;
    static constexpr int kHalfFrames = kRingFrames / 2;

    // Filter half-length (grid steps) and cut-off for an AudioMode; 0 when
    // that mode does not resample.
    static int halfLengthFor(int audioMode);
    static double cutoffFor(int audioMode);
    // The filter table h[0..N] for half-length N and cut-off fc.
    static std::vector<double> buildFilter(int halfLength, double cutoff);

    // Rebuilds the table and clears the ring and counters.
    void start(int halfLength, double cutoff);
    bool active() const { return halfLength_ > 0; }
    // Feeds interleaved stereo frames; output frames are appended to `out`.
    void feed(const int16_t* pcm, int frames, std::vector<int16_t>& out);
    // Zero-fills the rest of the current half and filters it.
    void flush(std::vector<int16_t>& out);

    // The filter loop of a half by CPU level: one output frame at a time in
    // plain C++, or several at a time in SSE2 registers (each sum still adds
    // its products in tap order, so every level gives the same samples).
    struct Kernels {
        void (Resampler::*runHalf)(std::vector<int16_t>& out);
        // Eight stereo sums of `count` taps at once for frames 160 input
        // frames apart, read from the paired ring: pairs + 4 * (320 p + t)
        // holds tap t's input of frames 2p and 2p + 1 (left, right, left,
        // right). sums[2m] and sums[2m + 1] are frame m's left and right.
        // Used by the SSE2 loop and up.
        void (*eightWays)(const double* taps, std::size_t count, const double* pairs,
                          double* sums);
    };
    static Kernels makeKernels(CpuLevel level);
    // A new resampler takes the table of cpuLevel(); another is set before
    // start().
    void setKernels(const Kernels& kernels) { kernels_ = kernels; }

private:
    static const Kernels& processKernels();
    void runHalfPlain(std::vector<int16_t>& out);
    void runHalfSse2(std::vector<int16_t>& out);
    // Moves posInt_ and phase_ on by one output frame.
    void step();
    // Writes input frame `frame` (absolute) into the paired ring.
    void storePair(int64_t frame, const int16_t* lr);

    int halfLength_ = 0;
    std::vector<double> h_;
    // The taps of each of the 147 output phases, first input frame relative
    // to the output's integer position in firstTap_.
    std::vector<std::vector<double>> phaseTaps_;
    std::vector<int> firstTap_;
    // kRingFrames stereo frames, stored twice over so that every window is
    // contiguous; frame j sits at (j + kPad) mod kRingFrames.
    std::vector<double> ring_;
    // For the SIMD loop: each ring frame beside the frame 160 later (the
    // next output of the same phase), at the same place and stored twice
    // over the same way, so that one load brings both frames' samples.
    std::vector<double> pairs_;
    int64_t filled_ = 0;    // input frames written so far (absolute)
    int64_t outIndex_ = 0;  // next output frame number
    int64_t posInt_ = 0;    // input position of the next output: posInt_ + phase_/147
    int phase_ = 0;
    Kernels kernels_ = processKernels();
};

}  // namespace zembra
