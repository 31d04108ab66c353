#include "audio/resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "support/cpu_levels.h"

namespace zembra {
namespace {

std::vector<int16_t> sine(int frames, double freq, double amplitude, int rate = 48000) {
    std::vector<int16_t> v(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        double x = amplitude * std::sin(2 * M_PI * freq * i / rate);
        v[2 * size_t(i)] = v[2 * size_t(i) + 1] = int16_t(std::lround(x));
    }
    return v;
}

std::vector<int16_t> resample(int audioMode, const std::vector<int16_t>& in, int piece = 1000,
                              CpuLevel level = cpuLevel()) {
    Resampler r;
    r.setKernels(Resampler::makeKernels(level));
    r.start(Resampler::halfLengthFor(audioMode), Resampler::cutoffFor(audioMode));
    std::vector<int16_t> out;
    int frames = int(in.size() / 2);
    for (int pos = 0; pos < frames; pos += piece)
        r.feed(in.data() + 2 * pos, std::min(piece, frames - pos), out);
    r.flush(out);
    return out;
}

// THD+N in dB: the power left after removing the best-fitting sine at
// `freq` (and DC), relative to the sine, over the left channel in [from, to).
double thdN(const std::vector<int16_t>& pcm, double freq, int rate, size_t from, size_t to) {
    double ss = 0, sc = 0, cc = 0, sy = 0, cy = 0, n = 0, y1 = 0;
    for (size_t i = from; i < to; ++i) {
        double s = std::sin(2 * M_PI * freq * double(i) / rate);
        double c = std::cos(2 * M_PI * freq * double(i) / rate);
        double y = pcm[2 * i];
        ss += s * s, sc += s * c, cc += c * c, sy += s * y, cy += c * y, y1 += y, n += 1;
    }
    double det = ss * cc - sc * sc;
    double a = (sy * cc - cy * sc) / det, b = (cy * ss - sy * sc) / det;
    double dc = y1 / n, residual = 0, signal = 0;
    for (size_t i = from; i < to; ++i) {
        double fit = a * std::sin(2 * M_PI * freq * double(i) / rate) +
                     b * std::cos(2 * M_PI * freq * double(i) / rate);
        double e = pcm[2 * i] - fit - dc;
        residual += e * e;
        signal += fit * fit;
    }
    return 10 * std::log10(residual / signal);
}

TEST(ResamplerFilter, TableShapeAndUnityGain) {
    for (int mode : {1, 2, 4}) {
        int n = Resampler::halfLengthFor(mode);
        auto h = Resampler::buildFilter(n, Resampler::cutoffFor(mode));
        ASSERT_EQ(h.size(), size_t(n) + 1);
        EXPECT_DOUBLE_EQ(h[0], Resampler::cutoffFor(mode) * 294 / 7056000.0);
        EXPECT_LT(std::fabs(h[n]), h[0] * 1e-3);  // the Kaiser window closes
        // Every output phase sums its taps (one per 147 grid steps) to ~1.
        for (int phase : {0, 40, 73, 146}) {
            double sum = 0;
            for (int k = -n - phase; k <= n; k += 147)
                if (std::abs(k) <= n) sum += h[size_t(std::abs(k))];
            EXPECT_NEAR(sum, 1.0, 2e-3) << "mode " << mode << " phase " << phase;
        }
    }
    EXPECT_EQ(Resampler::halfLengthFor(3), 0);
    EXPECT_EQ(Resampler::halfLengthFor(5), 0);
}

TEST(ResamplerQuality, SineThdPlusNoiseAndLength) {
    const int frames = 48000 * 2;
    auto in = sine(frames, 1000.0, 32000.0);
    double previous = 0;
    for (int mode : {1, 2, 4}) {
        auto out = resample(mode, in);
        size_t outFrames = out.size() / 2;
        double expected = frames * 147.0 / 160.0;
        EXPECT_GE(double(outFrames), expected - 1);
        EXPECT_LE(double(outFrames), expected + Resampler::kHalfFrames * 147.0 / 160.0 + 1);
        // Away from the start (input taken as silent before 0) and the zero fill.
        double d = thdN(out, 1000.0, 44100, 2000, size_t(expected) - 2000);
        std::printf("resampler mode %d: THD+N %.1f dB, %zu frames from %d\n", mode, d, outFrames,
                    frames);
        if (mode == 1)
            EXPECT_LE(d, -85.0);
        else
            EXPECT_LT(d, previous + 0.5);
        previous = d;
    }
}

TEST(ResamplerQuality, FeedSizesDoNotMatterAndChannelsStayApart) {
    auto in = sine(40000, 440.0, 20000.0);
    for (size_t i = 0; i < in.size(); i += 2) in[i + 1] = int16_t(-in[i] / 2);
    auto a = resample(1, in, 40000), b = resample(1, in, 17);
    EXPECT_EQ(a, b);
    for (size_t i = 2000; i < 30000; i += 2) ASSERT_NEAR(a[i + 1], -a[i] / 2.0, 1.0);
}

TEST(ResamplerQuality, FullScaleSquareClampsWithoutWrapping) {
    std::vector<int16_t> in(2 * 40000);
    for (size_t i = 0; i < in.size(); ++i) in[i] = (i / 200) % 2 ? 32767 : -32768;
    auto out = resample(4, in);
    int high = 0;
    for (size_t i = 2000; i + 2000 < out.size(); ++i) {
        // Overshoot near the edges must saturate, never flip sign.
        if (out[i] == 32767) ++high;
        ASSERT_FALSE(out[i] < -30000 && out[i + 1] > 30000 && i % 2 == 0);
    }
    EXPECT_GT(high, 0);
}

// Every level's loop sums the same products in the same order as the plain
// one: the samples are the same bits for every mode, for noise and for a
// clipping square, whatever the feed sizes (which move where a half ends
// within a group of four outputs).
TEST(ResamplerKernel, EveryLevelGivesThePlainSamples) {
    std::vector<int16_t> noise(2 * 70001);
    uint32_t seed = 12345;
    for (auto& v : noise) {
        seed = seed * 1664525u + 1013904223u;
        v = int16_t(seed >> 16);
    }
    std::vector<int16_t> square(2 * 20000);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 94) % 2 ? 32767 : -32768;
    for (CpuLevel level : testing::simdLevels())
        for (int mode : {1, 2, 4})
            for (const auto* in : {&noise, &square})
                for (int piece : {4096, 333}) {
                    const auto plain = resample(mode, *in, piece, CpuLevel::Plain);
                    const auto simd = resample(mode, *in, piece, level);
                    ASSERT_FALSE(plain.empty());
                    EXPECT_EQ(plain, simd)
                        << cpuLevelName(level) << ", mode " << mode << ", pieces of " << piece;
                }
}

}  // namespace
}  // namespace zembra
