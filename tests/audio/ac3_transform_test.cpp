#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "audio/ac3_decoder.h"

namespace zembra {
namespace {

// The encoder's transform as A/52 defines it: N windowed samples to N/2
// coefficients, alpha -1/0/+1 for the first short, long and second short.
void forward(const double* x, int n, int alpha, double* out) {
    for (int k = 0; k < n / 2; ++k) {
        double sum = 0;
        for (int i = 0; i < n; ++i)
            sum += x[i] * std::cos(2 * M_PI / (4.0 * n) * (2 * i + 1) * (2 * k + 1) +
                                   M_PI / 4 * (2 * k + 1) * (1 + alpha));
        out[k] = -2.0 / n * sum;
    }
}

void encodeBlock(const double* samples, bool shortBlocks, double* coef) {
    double x[512];
    for (int i = 0; i < 512; ++i) x[i] = samples[i] * ac3Window(i);
    if (!shortBlocks) {
        forward(x, 512, 0, coef);
        return;
    }
    double a[128], b[128];
    forward(x, 256, -1, a);
    forward(x + 256, 256, 1, b);
    for (int k = 0; k < 128; ++k) coef[2 * k] = a[k], coef[2 * k + 1] = b[k];
}

TEST(Ac3Transform, WindowIsPowerComplementary) {
    for (int n = 0; n < 256; ++n) {
        EXPECT_NEAR(ac3Window(n) * ac3Window(n) + ac3Window(n + 256) * ac3Window(n + 256), 1.0,
                    1e-12);
        EXPECT_DOUBLE_EQ(ac3Window(n), ac3Window(511 - n));
    }
}

TEST(Ac3Transform, OverlapAddRebuildsTheSignalAcrossBlockSwitches) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-1, 1);
    const int blocks = 12;
    std::vector<double> s(256 * (blocks + 1));
    for (auto& v : s) v = u(rng);
    const bool shortFlags[blocks] = {false, true, true,  false, false, true,
                                     false, true, false, false, true,  false};
    std::vector<std::vector<double>> y(blocks, std::vector<double>(512));
    for (int b = 0; b < blocks; ++b) {
        double coef[256];
        encodeBlock(&s[256 * size_t(b)], shortFlags[b], coef);
        ac3WindowedImdct(coef, shortFlags[b], y[size_t(b)].data());
    }
    double worst = 0;
    for (int b = 0; b + 1 < blocks; ++b)
        for (int m = 0; m < 256; ++m) {
            double rebuilt = y[size_t(b)][256 + size_t(m)] + y[size_t(b) + 1][size_t(m)];
            worst = std::max(worst, std::fabs(rebuilt - s[256 * size_t(b) + 256 + size_t(m)]));
        }
    EXPECT_LT(worst, 1e-9);
}

}  // namespace
}  // namespace zembra
