#pragma once
// The modified Bessel function of the first kind, order zero, that shapes the
// Kaiser windows of the resampler's low-pass and the Layer II filter bank.

namespace zembra {

// Sums the power series until its terms fall below 1e-20, far under the last
// bit of the sum for the arguments a Kaiser window uses (0 to about 12).
inline double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1;; ++k) {
        term *= (x / 2) / k;  // the square root of the series term
        if (term <= 1e-10) break;
        sum += term * term;
    }
    return sum;
}

}  // namespace zembra
