#pragma once
// Psychoacoustic model 2 for one channel at 44.1 kHz: a 1024-point spectrum
// per frame, tonality from the predictability of each line over the two
// previous frames, spreading over partitions of about a third of a critical
// band and the threshold in quiet give the signal-to-mask ratio of each of
// the 32 subbands.

#include <array>
#include <vector>

#include "encoder/layer2/layer2_kernels.h"

namespace zembra::layer2 {

class PsychoModel {
public:
    static constexpr int kFftSize = 1024;

    PsychoModel();
    void reset();
    // samples: 1024 values (full scale = 1.0) centred on the frame's subband
    // samples. Writes the SMR in dB of each subband.
    void analyse(const double* samples, std::array<double, 32>& smr);
    // The spectrum's passes come from this table (every level gives the same
    // bits); a new model takes the process-wide one.
    void setKernels(const Layer2Kernels& kernels) { kernels_ = &kernels; }

private:
    int partitions_ = 0;
    std::vector<int> partOfLine_;  // partition of each line 0..512
    std::vector<int> linesInPart_;
    std::vector<double> minval_;  // dB
    std::vector<double> rnorm_;
    // Spreading onto partition b from partition k at [b * partitions + k].
    // Only a few bark either side of b spread anything; the non-zero run of
    // row b is [spreadFrom_[b], spreadTo_[b]).
    std::vector<double> spread_;
    std::vector<int> spreadFrom_, spreadTo_;
    std::vector<double> absthr_;  // energy per line
    std::vector<double> window_;
    // Magnitude and phase (as a unit vector) of each line in the last frame
    // [0] and the one before [1]; each frame's measure overwrites [1], then
    // the two swap.
    std::vector<double> prevR_[2], prevC_[2], prevS_[2];
    std::vector<double> re_, im_;
    std::vector<double> cosTab_, sinTab_;
    // The twiddles of each pass in a row: pass len at [len / 2 - 1, len - 1).
    std::vector<double> passCos_, passSin_;
    std::vector<int> bitrev_;
    // Scratch of analyse().
    std::vector<double> energy_, weighted_, lineEnergy_, unpredictability_, nbLine_;
    const Layer2Kernels* kernels_ = &layer2Kernels();

    void transform();
};

}  // namespace zembra::layer2
