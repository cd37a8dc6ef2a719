// The show's hyperbolic tangent. musl's tanh, like the other C runtimes',
// goes through expm1 and a division in plain doubles and lands up to about
// two ulps from the true value; this one evaluates tanh(x) =
// expm1(2x) / (expm1(2x) + 2) in double-double arithmetic (about 100
// significant bits) and rounds once, so the result is within an ulp (almost
// always the correctly rounded one). Only +, -, x and / of doubles are used,
// with no fused multiply-add, so every platform computes the same bits.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/show_maths.h"

namespace {

// A value hi + lo with |lo| at most half an ulp of hi.
struct Double2 {
    double hi;
    double lo;
};

// Error-free sum: hi + lo == a + b exactly.
Double2 twoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    const double err = (a - (s - bb)) + (b - bb);
    return {s, err};
}

Double2 quickTwoSum(double a, double b) {  // needs |a| >= |b|
    const double s = a + b;
    return {s, b - (s - a)};
}

// Error-free product without fused multiply-add: Dekker's split of each
// factor into halves of 26 bits.
Double2 twoProduct(double a, double b) {
    constexpr double kSplit = 134217729.0;  // 2^27 + 1
    const double p = a * b;
    const double ta = kSplit * a;
    const double ahi = ta - (ta - a);
    const double alo = a - ahi;
    const double tb = kSplit * b;
    const double bhi = tb - (tb - b);
    const double blo = b - bhi;
    const double err = ((ahi * bhi - p) + ahi * blo + alo * bhi) + alo * blo;
    return {p, err};
}

Double2 add(Double2 a, Double2 b) {
    Double2 s = twoSum(a.hi, b.hi);
    const Double2 t = twoSum(a.lo, b.lo);
    s.lo += t.hi;
    s = quickTwoSum(s.hi, s.lo);
    s.lo += t.lo;
    return quickTwoSum(s.hi, s.lo);
}

Double2 multiply(Double2 a, Double2 b) {
    Double2 p = twoProduct(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return quickTwoSum(p.hi, p.lo);
}

// a / b to double-double accuracy: the quotient and one correction.
Double2 divide(Double2 a, Double2 b) {
    const double q1 = a.hi / b.hi;
    const Double2 rest = add(a, multiply(b, {-q1, 0.0}));
    return quickTwoSum(q1, rest.hi / b.hi);
}

// exp(y) - 1 for 0 < y <= 44 as a double-double. y = k ln 2 + r with
// |r| <= ln 2 / 2, exp(r) from its Taylor series to r^15 / 15! (the rest is
// under 2^-63 of it), then scaled by 2^k exactly. The terms from r^4 on
// weigh under 2^-10 of the sum, so plain doubles carry them (their rounding
// costs under 2^-60); the first four take double-double steps.
Double2 expm1Double2(double y) {
    // ln 2 in two parts; the first has 42 significant bits, so k x kLn2Hi is
    // exact for every k here (at most 64).
    constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;
    constexpr double kLn2Lo = 0x1.ef35793c76730p-45;
    constexpr double kInvLn2 = 0x1.71547652b82fep0;
    constexpr double kRoundToInteger = 0x1.8p52;  // adding it rounds to an integer
    const double k = (y * kInvLn2 + kRoundToInteger) - kRoundToInteger;
    Double2 r = twoSum(y, -(k * kLn2Hi));
    r = add(r, twoProduct(-k, kLn2Lo));

    // 1/n! for n = 4 to 15, rounded to double; even and odd terms are summed
    // apart in r^2, which halves the chain of dependent steps.
    const double x = r.hi;
    const double x2 = x * x;
    const double even =
        0x1.5555555555555p-5 +
        x2 * (0x1.6c16c16c16c17p-10 +
              x2 * (0x1.a01a01a01a01ap-16 +
                    x2 * (0x1.27e4fb7789f5cp-22 +
                          x2 * (0x1.1eed8eff8d898p-29 + x2 * 0x1.93974a8c07c9dp-37))));
    const double odd =
        0x1.1111111111111p-7 +
        x2 * (0x1.a01a01a01a01ap-13 +
              x2 * (0x1.71de3a556c734p-19 +
                    x2 * (0x1.ae64567f544e4p-26 +
                          x2 * (0x1.6124613a86d09p-33 + x2 * 0x1.ae7f3e733b81fp-41))));
    Double2 series = {even + x * odd, 0.0};
    // Then 1/3!, 1/2!, 1/1! and 1/0!.
    series = add(multiply(series, r), {0x1.5555555555555p-3, 0x1.5555555555555p-57});
    series = add(multiply(series, r), {0.5, 0.0});
    series = add(multiply(series, r), {1.0, 0.0});
    series = add(multiply(series, r), {1.0, 0.0});

    // 2^k from its bits (the browser's C++ library has no std::bit_cast).
    const uint64_t scaleBits = static_cast<uint64_t>(1023 + static_cast<int>(k)) << 52;
    double scale;
    std::memcpy(&scale, &scaleBits, sizeof scale);
    return add({series.hi * scale, series.lo * scale}, {-1.0, 0.0});
}

}  // namespace

extern "C" double queltravine_tanh(double x) {
    const double magnitude = std::fabs(x);
    if (!(magnitude > 0x1p-27)) {
        // tanh(x) = x - x^3 / 3 + ...: x itself is within an ulp (also for
        // zeros and NaN).
        return x;
    }
    if (magnitude > 22.0) {
        // 1 - tanh(22) is below 2^-62: 1 is within an ulp.
        return std::copysign(1.0, x);
    }
    const Double2 em1 = expm1Double2(2.0 * magnitude);
    const Double2 quotient = divide(em1, add(em1, {2.0, 0.0}));
    return std::copysign(quotient.hi + quotient.lo, x);
}
