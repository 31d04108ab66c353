#include "audio/resampler.h"

#include <algorithm>
#include <cmath>

namespace zembra {

namespace {

constexpr int64_t kInStep = 147;   // grid steps per input frame (48000 Hz)
constexpr int64_t kOutStep = 160;  // grid steps per output frame (44100 Hz)
constexpr double kGrid = 7056000.0;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1;; ++k) {
        term *= (x / 2) / k;
        if (term <= 1e-10) break;
        sum += term * term;
    }
    return sum;
}

}  // namespace

int Resampler::halfLengthFor(int audioMode) {
    switch (audioMode) {
        case 1: return 4095;
        case 2: return 12287;
        case 4: return 32767;
        default: return 0;
    }
}

double Resampler::cutoffFor(int audioMode) {
    switch (audioMode) {
        case 1: return 19400.0;
        case 2: return 21200.0;
        case 4: return 21600.0;
        default: return 0.0;
    }
}

std::vector<double> Resampler::buildFilter(int n, double fc) {
    std::vector<double> h(size_t(n) + 1);
    h[0] = fc * 294.0 / kGrid;
    const double i0beta = besselI0(10.0);
    for (int i = 1; i <= n; ++i) {
        double t = 2.0 * M_PI * fc * i / kGrid;
        double r = double(i) / n;
        h[i] = h[0] * (std::sin(t) / t) * besselI0(10.0 * std::sqrt(std::max(0.0, 1.0 - r * r))) /
               i0beta;
    }
    return h;
}

void Resampler::start(int halfLength, double cutoff) {
    halfLength_ = halfLength;
    h_ = halfLength > 0 ? buildFilter(halfLength, cutoff) : std::vector<double>{};
    ring_.assign(size_t(kRingFrames) * 2, 0);
    filled_ = 0;
    outIndex_ = 0;
    posInt_ = 0;
    phase_ = 0;
}

void Resampler::feed(const int16_t* pcm, int frames, std::vector<int16_t>& out) {
    while (frames > 0) {
        int inHalf = int(filled_ % kHalfFrames);
        int take = std::min(frames, kHalfFrames - inHalf);
        size_t at = size_t(filled_ % kRingFrames) * 2;
        std::copy(pcm, pcm + size_t(take) * 2, ring_.begin() + long(at));
        pcm += size_t(take) * 2;
        frames -= take;
        filled_ += take;
        if (filled_ % kHalfFrames == 0) runHalf(out);
    }
}

void Resampler::flush(std::vector<int16_t>& out) {
    if (!active() || filled_ == 0) return;  // nothing was fed: nothing to finish
    int rest = kHalfFrames - int(filled_ % kHalfFrames);
    std::vector<int16_t> zeros(size_t(rest) * 2, 0);
    feed(zeros.data(), rest, out);
}

void Resampler::runHalf(std::vector<int16_t>& out) {
    const int64_t n = halfLength_;
    const double* h = h_.data();
    for (;;) {
        // Output frame outIndex_ sits at grid position g = 160 * outIndex_ =
        // 147 * posInt_ + phase_; its window covers |147 j - g| <= N.
        const int64_t g = kInStep * posInt_ + phase_;
        const int64_t last = (g + n) / kInStep;
        if (last >= filled_) break;
        int64_t first = g - n <= 0 ? -((n - g) / kInStep) : (g - n + kInStep - 1) / kInStep;
        double left = 0, right = 0;
        for (int64_t j = std::max<int64_t>(first, 0); j <= last; ++j) {
            int64_t k = kInStep * j - g;
            double c = h[k < 0 ? -k : k];
            const int16_t* x = &ring_[size_t(j % kRingFrames) * 2];
            left += x[0] * c;
            right += x[1] * c;
        }
        out.push_back(int16_t(std::clamp(std::nearbyint(left), -32768.0, 32767.0)));
        out.push_back(int16_t(std::clamp(std::nearbyint(right), -32768.0, 32767.0)));
        ++outIndex_;
        // One output step is one input frame plus 13/147.
        posInt_ += 1;
        phase_ += int(kOutStep - kInStep);
        if (phase_ >= kInStep) phase_ -= int(kInStep), posInt_ += 1;
    }
}

}  // namespace zembra
