#pragma once
// exp and log from plain IEEE arithmetic, for the fragment model and its
// fit. The C library picks its own code paths by processor (with or without
// fused multiply-add), and those may differ in the last bit; these give the
// same bits on every x86-64 machine (the build forbids contraction), so a
// fitted model file and every prediction are reproducible everywhere.
// Accuracy: a few units in the last place of double (Exp, Log), about one
// part in 10^7 for ExpNonPositive.

#include <cmath>
#include <cstdint>
#include <cstring>

namespace portable {

inline constexpr double kLn2Hi = 6.93147180369123816490e-01;  // ln 2, first 32 bits
inline constexpr double kLn2Lo = 1.90821492927058770002e-10;  // the rest
inline constexpr double kLog2e = 1.44269504088896338700e+00;

// e^x in double; 0 below -745, infinity above 709.
inline double Exp(double x) {
    if (!(x > -745.0)) return x != x ? x : 0.0;
    if (x > 709.0) return HUGE_VAL;
    // Nearest integer by truncation (std::floor is a library call on plain x86-64).
    const double y = x * kLog2e;
    const double k = static_cast<double>(static_cast<long long>(y < 0.0 ? y - 0.5 : y + 0.5));
    const double r = (x - k * kLn2Hi) - k * kLn2Lo;  // |r| <= ln2 / 2
    // Taylor series to r^13: the next term is below 1e-17 of the sum.
    double p = 1.0 / 6227020800.0;
    for (double d : {479001600.0, 39916800.0, 3628800.0, 362880.0, 40320.0, 5040.0, 720.0, 120.0, 24.0, 6.0, 2.0, 1.0,
                     1.0})
        p = p * r + 1.0 / d;
    return std::ldexp(p, static_cast<int>(k));
}

// Natural logarithm in double; -infinity at 0, NaN below.
inline double Log(double x) {
    if (!(x > 0.0)) return x == 0.0 ? -HUGE_VAL : std::nan("");
    if (x == HUGE_VAL) return x;
    int e = 0;
    double m = std::frexp(x, &e);  // x = m 2^e, m in [0.5, 1)
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        --e;
    }
    // ln m = 2 atanh(s), s = (m - 1) / (m + 1), |s| < 0.172: odd series to s^23.
    const double s = (m - 1.0) / (m + 1.0), s2 = s * s;
    double p = 1.0 / 23.0;
    for (int d = 21; d >= 1; d -= 2) p = p * s2 + 1.0 / d;
    return e * kLn2Hi + (e * kLn2Lo + 2.0 * s * p);
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
