#include "encoder/layer2/psycho_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "encoder/layer2/layer2_kernels.h"

namespace zembra::layer2 {

namespace {

constexpr int kLines = PsychoModel::kFftSize / 2;  // lines 0..511 are used
// Lines from about 8.9 kHz up count as noise-like without a measure.
constexpr int kPredictedLines = 206;
constexpr double kRate = 44100.0;
constexpr double kTmn = 29.0;  // tone masking noise, dB
constexpr double kNmt = 6.0;   // noise masking tone, dB
// A full-scale sine gives a line energy of (N/4)^2 through the Hann window;
// that level is taken as 96 dB.
const double kFullScaleDb = 96.0 - 10.0 * std::log10(256.0 * 256.0);

double bark(double f) {
    return 13.0 * std::atan(0.00076 * f) + 3.5 * std::atan((f / 7500.0) * (f / 7500.0));
}

// Threshold in quiet, dB SPL.
double quietDb(double f) {
    f = std::max(f, 20.0) / 1000.0;
    double db = 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) +
                0.001 * f * f * f * f;
    return std::min(db, 96.0);
}

double spreading(double from, double to) {
    double dz = to - from;
    double tmpx = dz >= 0 ? 3.0 * dz : 1.5 * dz;
    double x = 8.0 * std::min((tmpx - 0.5) * (tmpx - 0.5) - 2.0 * (tmpx - 0.5), 0.0);
    double t = tmpx + 0.474;
    double tmpy = 15.811389 + 7.5 * t - 17.5 * std::sqrt(1.0 + t * t);
    if (tmpy < -100.0) return 0.0;
    return std::pow(10.0, (x + tmpy) / 10.0);
}

}  // namespace

PsychoModel::PsychoModel() {
    const int N = kFftSize;
    window_.resize(N);
    for (int i = 0; i < N; ++i) window_[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / N);
    cosTab_.resize(N / 2);
    sinTab_.resize(N / 2);
    for (int i = 0; i < N / 2; ++i) {
        cosTab_[i] = std::cos(2.0 * M_PI * i / N);
        sinTab_[i] = -std::sin(2.0 * M_PI * i / N);
    }
    for (int len = 2; len <= N; len <<= 1)
        for (int k = 0; k < len / 2; ++k) {
            passCos_.push_back(cosTab_[k * (N / len)]);
            passSin_.push_back(sinTab_[k * (N / len)]);
        }
    bitrev_.resize(N);
    for (int i = 0, bits = 10; i < N; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            if (i & (1 << b)) r |= 1 << (bits - 1 - b);
        bitrev_[i] = r;
    }

    // Partitions of about a third of a critical band, at least one line.
    partOfLine_.assign(kLines + 1, 0);
    std::vector<double> bval;
    double startZ = -1;
    for (int w = 0; w <= kLines; ++w) {
        double z = bark(w * kRate / N);
        if (startZ < 0 || z - startZ >= 1.0 / 3.0) {
            startZ = z;
            linesInPart_.push_back(0);
            bval.push_back(0);
        }
        int b = static_cast<int>(linesInPart_.size()) - 1;
        partOfLine_[w] = b;
        ++linesInPart_[b];
        bval[b] += z;
    }
    partitions_ = static_cast<int>(linesInPart_.size());
    for (int b = 0; b < partitions_; ++b) bval[b] /= linesInPart_[b];

    spread_.resize(partitions_ * partitions_);
    spreadFrom_.assign(partitions_, 0);
    spreadTo_.assign(partitions_, 0);
    rnorm_.resize(partitions_);
    minval_.resize(partitions_);
    for (int b = 0; b < partitions_; ++b) {
        double sum = 0;
        for (int k = 0; k < partitions_; ++k) {
            double s = spreading(bval[k], bval[b]);
            spread_[b * partitions_ + k] = s;
            sum += s;
            if (s == 0) continue;
            if (spreadTo_[b] == 0) spreadFrom_[b] = k;
            spreadTo_[b] = k + 1;
        }
        rnorm_[b] = sum > 0 ? 1.0 / sum : 1.0;
        // Stronger minimum masking demands in the low bands, as in the
        // standard's tables.
        minval_[b] = bval[b] < 3 ? 24.5 : bval[b] < 6 ? 20.0 : bval[b] < 13 ? 13.0 : 7.0;
    }
    absthr_.resize(kLines + 1);
    for (int w = 0; w <= kLines; ++w)
        absthr_[w] = std::pow(10.0, (quietDb(w * kRate / N) - kFullScaleDb) / 10.0);
    re_.resize(N);
    im_.resize(N);
    energy_.resize(partitions_);
    weighted_.resize(partitions_);
    lineEnergy_.resize(kLines + 1);
    unpredictability_.resize(kLines + 1);
    nbLine_.resize(partitions_);
    reset();
}

void PsychoModel::reset() {
    for (int i = 0; i < 2; ++i) {
        prevR_[i].assign(kLines + 1, 0.0);
        prevC_[i].assign(kLines + 1, 1.0);
        prevS_[i].assign(kLines + 1, 0.0);
    }
}

void PsychoModel::analyse(const double* samples, std::array<double, 32>& smr) {
    const int N = kFftSize;
    for (int i = 0; i < N; ++i) {
        re_[bitrev_[i]] = samples[i] * window_[i];
        im_[bitrev_[i]] = 0.0;
    }
    transform();

    std::vector<double>& energy = energy_;
    std::vector<double>& weighted = weighted_;
    std::vector<double>& lineEnergy = lineEnergy_;
    const SpectrumLines lines{.re = re_.data(),
                              .im = im_.data(),
                              .lastR = prevR_[0].data(),
                              .lastC = prevC_[0].data(),
                              .lastS = prevS_[0].data(),
                              .olderR = prevR_[1].data(),
                              .olderC = prevC_[1].data(),
                              .olderS = prevS_[1].data(),
                              .energy = lineEnergy.data(),
                              .unpredictability = unpredictability_.data(),
                              .count = kLines + 1,
                              .predicted = kPredictedLines};
    kernels_->measureLines(lines);
    // The older frame's history now holds this frame's, which is the last one
    // for the next frame (swapping vectors swaps their buffers).
    prevR_[0].swap(prevR_[1]);
    prevC_[0].swap(prevC_[1]);
    prevS_[0].swap(prevS_[1]);

    // A partition is a run of consecutive lines, summed in line order.
    for (int b = 0, w = 0; b < partitions_; ++b) {
        double e = 0, weightedE = 0;
        for (const int end = w + linesInPart_[b]; w < end; ++w) {
            e += lineEnergy[w];
            weightedE += lineEnergy[w] * unpredictability_[w];
        }
        energy[b] = e;
        weighted[b] = weightedE;
    }

    std::vector<double>& nbLine = nbLine_;
    for (int b = 0; b < partitions_; ++b) {
        double ecb = 0, ct = 0;
        const double* spread = &spread_[size_t(b) * size_t(partitions_)];
        for (int k = spreadFrom_[b]; k < spreadTo_[b]; ++k) {
            const double s = spread[k];
            if (s == 0) continue;
            ecb += energy[k] * s;
            ct += weighted[k] * s;
        }
        double tb = 1.0;
        if (ecb > 0) {
            const double cb = ct / ecb;
            tb = cb > 0 ? std::clamp(-0.299 - 0.43 * std::log(cb), 0.0, 1.0) : 1.0;
        }
        const double snr = std::max(minval_[b], tb * kTmn + (1.0 - tb) * kNmt);
        const double nb = ecb * rnorm_[b] * std::pow(10.0, -snr / 10.0);
        nbLine[b] = nb / linesInPart_[b];
    }

    for (int sb = 0; sb < 32; ++sb) {
        double epart = 0, minThr = 1e300;
        for (int w = sb * 16; w < sb * 16 + 16; ++w) {
            epart += lineEnergy[w];
            minThr = std::min(minThr, std::max(nbLine[partOfLine_[w]], absthr_[w]));
        }
        const double npart = minThr * 16.0;
        smr[sb] = epart > 0 && npart > 0 ? 10.0 * std::log10(epart / npart) : -100.0;
    }
}

// In-place radix-2 FFT of re_ + i im_ (input in bit-reversed order).
void PsychoModel::transform() {
    const int N = kFftSize;
    for (int len = 2; len <= N; len <<= 1) {
        const int half = len >> 1;
        kernels_->fftPass(re_.data(), im_.data(), N, half, passCos_.data() + (half - 1),
                          passSin_.data() + (half - 1));
    }
}

}  // namespace zembra::layer2
