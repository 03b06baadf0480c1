#pragma once
// exp and log written out in plain double arithmetic, for the learned
// models' fitting and probabilities. The C library's versions may pick a
// different code path on a processor with FMA and differ in the last bit
// there; these give the same bits on every machine (the build forbids FMA
// contraction), so a model fitted here is the same file everywhere.
// Accuracy: within a few units in the last place over the whole range.

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace portable {

// e^x; +inf above the largest finite result, 0 below the smallest subnormal.
inline double Exp(double x) {
    if (x != x) return x;
    if (x > 709.782712893384) return std::numeric_limits<double>::infinity();
    if (x < -745.1332191019412) return 0.0;
    // x = k ln2 + r with |r| <= ln2 / 2; ln2 split so k * kLn2Hi is exact.
    constexpr double kLog2e = 1.4426950408889634;
    constexpr double kLn2Hi = 6.93147180369123816490e-01;
    constexpr double kLn2Lo = 1.90821492927058770002e-10;
    const double k = std::floor(x * kLog2e + 0.5);
    const double r = (x - k * kLn2Hi) - k * kLn2Lo;
    // Taylor series to r^13: the next term is below 1e-17 for |r| <= 0.35.
    double p = 1.0 / 6227020800.0;
    p = p * r + 1.0 / 479001600.0;
    p = p * r + 1.0 / 39916800.0;
    p = p * r + 1.0 / 3628800.0;
    p = p * r + 1.0 / 362880.0;
    p = p * r + 1.0 / 40320.0;
    p = p * r + 1.0 / 5040.0;
    p = p * r + 1.0 / 720.0;
    p = p * r + 1.0 / 120.0;
    p = p * r + 1.0 / 24.0;
    p = p * r + 1.0 / 6.0;
    p = p * r + 0.5;
    p = p * r + 1.0;
    p = p * r + 1.0;
    // Scaling by 2^k is exact while the result is a normal number: there
    // the power of two is made from its bits; near the ends of the range
    // two steps keep it representable.
    const int e = static_cast<int>(k);
    if (e > -1000 && e < 1000) return p * std::bit_cast<double>(static_cast<uint64_t>(e + 1023) << 52);
    return std::ldexp(std::ldexp(p, e / 2), e - e / 2);
}

// Natural logarithm; -inf at 0, NaN below.
inline double Log(double x) {
    if (x != x || x < 0.0) return std::numeric_limits<double>::quiet_NaN();
    if (x == 0.0) return -std::numeric_limits<double>::infinity();
    if (x == std::numeric_limits<double>::infinity()) return x;
    constexpr double kLn2Hi = 6.93147180369123816490e-01;
    constexpr double kLn2Lo = 1.90821492927058770002e-10;
    int e = 0;
    double m = std::frexp(x, &e);  // exact: m in [0.5, 1)
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        --e;
    }
    // log m = 2 atanh(s), s = (m - 1) / (m + 1), |s| <= 0.1716.
    const double s = (m - 1.0) / (m + 1.0);
    const double z = s * s;
    double p = 1.0 / 25.0;
    for (int k = 23; k >= 3; k -= 2) p = p * z + 1.0 / k;
    const double logm = 2.0 * s + 2.0 * s * z * p;
    return e * kLn2Hi + (logm + e * kLn2Lo);
}

// 1 / (1 + e^-x), without overflow for either sign.
inline double Sigmoid(double x) {
    if (x >= 0.0) return 1.0 / (1.0 + Exp(-x));
    const double ex = Exp(x);
    return ex / (1.0 + ex);
}

// e^x in float for x <= 0 (softmax after subtracting the largest score);
// 0 below -87.
inline float ExpNonPositive(float x) {
    if (!(x > -87.0f)) return 0.0f;
    const float k = static_cast<float>(static_cast<int>(x * 1.44269504f - 0.5f));  // nearest, x <= 0
    const float r = (x - k * 0.693145752f) - k * 1.42860677e-6f;
    float p = 1.0f / 5040.0f;
    for (float d : {720.0f, 120.0f, 24.0f, 6.0f, 2.0f, 1.0f, 1.0f}) p = p * r + 1.0f / d;
    const uint32_t bits = static_cast<uint32_t>(static_cast<int32_t>(k) + 127) << 23;
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return p * scale;
}

}  // namespace portable
