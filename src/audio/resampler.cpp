#include "audio/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/bessel.h"
#include "platform/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define ZEMBRA_RESAMPLE_SSE2 1
#endif

namespace zembra {

namespace {

constexpr int64_t kInStep = 147;   // grid steps per input frame (48000 Hz)
constexpr int64_t kOutStep = 160;  // grid steps per output frame (44100 Hz)
constexpr double kGrid = 7056000.0;
// Silent frames before the first input, so that early windows need no test.
constexpr int64_t kPad = 256;

}  // namespace

int Resampler::halfLengthFor(int audioMode) {
    switch (audioMode) {
        case 1:
            return 4095;
        case 2:
            return 12287;
        case 4:
            return 32767;
        default:
            return 0;
    }
}

double Resampler::cutoffFor(int audioMode) {
    switch (audioMode) {
        case 1:
            return 19400.0;
        case 2:
            return 21200.0;
        case 4:
            return 21600.0;
        default:
            return 0.0;
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
    phaseTaps_.assign(size_t(kInStep), {});
    firstTap_.assign(size_t(kInStep), 0);
    if (halfLength > 0) {
        const int64_t n = halfLength;
        for (int64_t p = 0; p < kInStep; ++p) {
            // Input frames m (relative) with |147 m - p| <= N.
            int64_t first = p - n <= 0 ? -((n - p) / kInStep) : (p - n + kInStep - 1) / kInStep;
            int64_t last = (n + p) / kInStep;
            firstTap_[size_t(p)] = int(first);
            for (int64_t m = first; m <= last; ++m) {
                int64_t k = kInStep * m - p;
                phaseTaps_[size_t(p)].push_back(h_[size_t(k < 0 ? -k : k)]);
            }
        }
    }
    ring_.assign(size_t(kRingFrames) * 4, 0.0);
    pairs_.assign(kernels_.eightWays && halfLength > 0 ? size_t(kRingFrames) * 8 : 0, 0.0);
    filled_ = 0;
    outIndex_ = 0;
    posInt_ = 0;
    phase_ = 0;
}

void Resampler::storePair(int64_t frame, const int16_t* lr) {
    // First of its own pair, second of the pair that starts 160 frames back
    // (kPad keeps that place from going below zero).
    const size_t copy = size_t(kRingFrames) * 4;
    double* first = &pairs_[size_t((frame + kPad) % kRingFrames) * 4];
    double* second = &pairs_[size_t((frame + kPad - kOutStep) % kRingFrames) * 4 + 2];
    first[0] = first[copy] = second[0] = second[copy] = lr[0];
    first[1] = first[copy + 1] = second[1] = second[copy + 1] = lr[1];
}

void Resampler::feed(const int16_t* pcm, int frames, std::vector<int16_t>& out) {
    while (frames > 0) {
        int inHalf = int(filled_ % kHalfFrames);
        int take = std::min(frames, kHalfFrames - inHalf);
        for (int i = 0; i < take; ++i) {
            size_t at = size_t((filled_ + i + kPad) % kRingFrames) * 2;
            ring_[at] = ring_[at + 2 * kRingFrames] = pcm[2 * i];
            ring_[at + 1] = ring_[at + 2 * kRingFrames + 1] = pcm[2 * i + 1];
            if (!pairs_.empty()) storePair(filled_ + i, pcm + 2 * i);
        }
        pcm += size_t(take) * 2;
        frames -= take;
        filled_ += take;
        if (filled_ % kHalfFrames == 0) (this->*kernels_.runHalf)(out);
    }
}

void Resampler::flush(std::vector<int16_t>& out) {
    if (!active() || filled_ == 0) return;  // nothing was fed: nothing to finish
    int rest = kHalfFrames - int(filled_ % kHalfFrames);
    std::vector<int16_t> zeros(size_t(rest) * 2, 0);
    feed(zeros.data(), rest, out);
}

namespace {

int16_t toSample(double v) { return int16_t(std::clamp(std::nearbyint(v), -32768.0, 32767.0)); }

}  // namespace

#ifdef ZEMBRA_RESAMPLE_SSE2
namespace {

void eightWaysSse2(const double* taps, size_t count, const double* pairs, double* sums) {
    __m128d a0 = _mm_setzero_pd(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0, a7 = a0;
    for (size_t t = 0; t < count; ++t) {
        const __m128d h = _mm_set1_pd(taps[t]);
        const double* p = pairs + 4 * t;
        a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_loadu_pd(p), h));
        a1 = _mm_add_pd(a1, _mm_mul_pd(_mm_loadu_pd(p + 2), h));
        a2 = _mm_add_pd(a2, _mm_mul_pd(_mm_loadu_pd(p + 4 * 320), h));
        a3 = _mm_add_pd(a3, _mm_mul_pd(_mm_loadu_pd(p + 4 * 320 + 2), h));
        a4 = _mm_add_pd(a4, _mm_mul_pd(_mm_loadu_pd(p + 4 * 640), h));
        a5 = _mm_add_pd(a5, _mm_mul_pd(_mm_loadu_pd(p + 4 * 640 + 2), h));
        a6 = _mm_add_pd(a6, _mm_mul_pd(_mm_loadu_pd(p + 4 * 960), h));
        a7 = _mm_add_pd(a7, _mm_mul_pd(_mm_loadu_pd(p + 4 * 960 + 2), h));
    }
    _mm_storeu_pd(sums, a0);
    _mm_storeu_pd(sums + 2, a1);
    _mm_storeu_pd(sums + 4, a2);
    _mm_storeu_pd(sums + 6, a3);
    _mm_storeu_pd(sums + 8, a4);
    _mm_storeu_pd(sums + 10, a5);
    _mm_storeu_pd(sums + 12, a6);
    _mm_storeu_pd(sums + 14, a7);
}

}  // namespace

// Defined in resampler_avx2.cpp.
void resampleEightWaysAvx2(const double* taps, size_t count, const double* pairs, double* sums);
#endif

Resampler::Kernels Resampler::makeKernels(CpuLevel level) {
    Kernels k{&Resampler::runHalfPlain, nullptr};
#ifdef ZEMBRA_RESAMPLE_SSE2
    if (level >= CpuLevel::Sse2) {
        k.runHalf = &Resampler::runHalfSse2;
        k.eightWays = eightWaysSse2;
    }
    if (level >= CpuLevel::Avx2) k.eightWays = resampleEightWaysAvx2;
#else
    (void)level;
#endif
    return k;
}

const Resampler::Kernels& Resampler::processKernels() {
    static const Kernels kernels = makeKernels(cpuLevel());
    return kernels;
}

void Resampler::step() {
    ++outIndex_;
    // One output step is one input frame plus 13/147.
    posInt_ += 1;
    phase_ += int(kOutStep - kInStep);
    if (phase_ >= kInStep) phase_ -= int(kInStep), posInt_ += 1;
}

void Resampler::runHalfPlain(std::vector<int16_t>& out) {
    const int64_t n = halfLength_;
    for (;;) {
        // Output frame outIndex_ sits at grid position g = 160 * outIndex_ =
        // 147 * posInt_ + phase_; its window covers |147 j - g| <= N.
        const int64_t g = kInStep * posInt_ + phase_;
        if ((g + n) / kInStep >= filled_) break;
        const std::vector<double>& taps = phaseTaps_[size_t(phase_)];
        const double* x =
            &ring_[size_t((posInt_ + firstTap_[size_t(phase_)] + kPad) % kRingFrames) * 2];
        double left = 0, right = 0;
        for (size_t t = 0; t < taps.size(); ++t) {
            left += x[2 * t] * taps[t];
            right += x[2 * t + 1] * taps[t];
        }
        out.push_back(toSample(left));
        out.push_back(toSample(right));
        step();
    }
}

#ifdef ZEMBRA_RESAMPLE_SSE2
// Several output frames at once, each in its own register (left, right):
// the plain loop waits on the latency of every addition, this one keeps
// independent chains going. Each sum adds the same products in the same
// order as the plain loop, so the results are the same bits.
//
// Frames 147 apart share their phase (and so their taps, one load for all)
// and lie 160 input frames apart: the bulk of a half goes in blocks of
// 8 x 147 frames, eight frames of one phase at a time; the rest four
// consecutive frames at a time.
void Resampler::runHalfSse2(std::vector<int16_t>& out) {
    constexpr int kGroup = 4;
    constexpr int64_t kWays = 8;
    constexpr int64_t kBlock = kWays * kInStep;
    const int64_t n = halfLength_;
    // The frames this half completes: frame j (from outIndex_ on) sits at
    // g + 160 j and needs input up to (g + 160 j + N) / 147.
    const int64_t g0 = kInStep * posInt_ + phase_;
    int64_t ready = 0;
    if ((g0 + n) / kInStep < filled_) {
        ready = (kInStep * filled_ - g0 - n + kOutStep - 1) / kOutStep;
        while (ready > 0 && (g0 + kOutStep * (ready - 1) + n) / kInStep >= filled_) --ready;
        while ((g0 + kOutStep * ready + n) / kInStep < filled_) ++ready;
    }
    const int64_t blocks = ready / kBlock;
    if (blocks > 0) {
        const size_t base = out.size();
        out.resize(base + size_t(blocks * kBlock) * 2);
        int16_t* o = out.data() + base;
        for (int64_t b = 0; b < blocks; ++b)
            for (int64_t r = 0; r < kInStep; ++r) {
                const int64_t j = b * kBlock + r;
                const int64_t g = g0 + kOutStep * j;
                const int64_t pos = g / kInStep;
                const int phase = int(g % kInStep);
                const std::vector<double>& tv = phaseTaps_[size_t(phase)];
                const double* taps = tv.data();
                const size_t count = tv.size();
                const double* pairs =
                    &pairs_[size_t((pos + firstTap_[size_t(phase)] + kPad) % kRingFrames) * 4];
                double sums[2 * kWays];
                kernels_.eightWays(taps, count, pairs, sums);
                for (int64_t m = 0; m < kWays; ++m) {
                    int16_t* at = o + 2 * (j + kInStep * m);
                    at[0] = toSample(sums[2 * m]);
                    at[1] = toSample(sums[2 * m + 1]);
                }
            }
        // On past the frames made.
        const int64_t g = g0 + kOutStep * blocks * kBlock;
        outIndex_ += blocks * kBlock;
        posInt_ = g / kInStep;
        phase_ = int(g % kInStep);
    }
    for (;;) {
        const double* x[kGroup];
        const double* taps[kGroup];
        size_t count[kGroup];
        int ready = 0;
        for (; ready < kGroup; ++ready) {
            const int64_t g = kInStep * posInt_ + phase_;
            if ((g + n) / kInStep >= filled_) break;
            const std::vector<double>& t = phaseTaps_[size_t(phase_)];
            taps[ready] = t.data();
            count[ready] = t.size();
            x[ready] =
                &ring_[size_t((posInt_ + firstTap_[size_t(phase_)] + kPad) % kRingFrames) * 2];
            step();
        }
        if (ready == 0) break;
        __m128d acc[kGroup];
        for (__m128d& a : acc) a = _mm_setzero_pd();
        size_t common = 0;
        if (ready == kGroup) {
            common = std::min(std::min(count[0], count[1]), std::min(count[2], count[3]));
            for (size_t t = 0; t < common; ++t) {
                acc[0] = _mm_add_pd(
                    acc[0], _mm_mul_pd(_mm_loadu_pd(x[0] + 2 * t), _mm_set1_pd(taps[0][t])));
                acc[1] = _mm_add_pd(
                    acc[1], _mm_mul_pd(_mm_loadu_pd(x[1] + 2 * t), _mm_set1_pd(taps[1][t])));
                acc[2] = _mm_add_pd(
                    acc[2], _mm_mul_pd(_mm_loadu_pd(x[2] + 2 * t), _mm_set1_pd(taps[2][t])));
                acc[3] = _mm_add_pd(
                    acc[3], _mm_mul_pd(_mm_loadu_pd(x[3] + 2 * t), _mm_set1_pd(taps[3][t])));
            }
        }
        for (int k = 0; k < ready; ++k) {
            for (size_t t = common; t < count[k]; ++t)
                acc[k] = _mm_add_pd(
                    acc[k], _mm_mul_pd(_mm_loadu_pd(x[k] + 2 * t), _mm_set1_pd(taps[k][t])));
            double lr[2];
            _mm_storeu_pd(lr, acc[k]);
            out.push_back(toSample(lr[0]));
            out.push_back(toSample(lr[1]));
        }
        if (ready < kGroup) break;
    }
}
#endif

}  // namespace zembra
