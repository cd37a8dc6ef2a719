// The show's hyperbolic tangent. musl's tanh, like the other C runtimes',
// goes through expm1 and a division in plain doubles and lands up to about
// two ulps from the true value. The show's evaluates tanh(x) =
// expm1(2x) / (expm1(2x) + 2) in double-double steps (within 2^-60.7 of
// tanh, measured against MPFR) and rounds once, so the result is within an
// ulp and almost always the correctly rounded one. That costs six times the
// C runtime's tanh, so a fast path first computes tanh in plain doubles, to
// within 2^-63, and answers wherever the errors of both paths together
// cannot reach a rounding boundary: there both give the same double, and the
// music did not change when the fast path came. About one call in 150 takes
// the slow path. Only +, -, x and / of doubles are used, with no fused
// multiply-add, so every platform computes the same bits.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/show_maths.h"

namespace {

constexpr double kRoundToInteger = 0x1.8p52;  // adding it rounds to an integer

// 2^exponent for a normal exponent, from its bits (the browser's C++ library
// has no std::bit_cast).
double powerOfTwo(int exponent) {
    const uint64_t bits = static_cast<uint64_t>(1023 + exponent) << 52;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

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

// The upper 26 bits of a (Dekker's split); a minus it has 26 bits too, so
// the product of two such halves is exact.
double head26(double a) {
    constexpr double kSplit = 134217729.0;  // 2^27 + 1
    const double t = kSplit * a;
    return t - (t - a);
}

// Error-free product without fused multiply-add: each factor split in halves.
Double2 twoProduct(double a, double b) {
    const double p = a * b;
    const double ahi = head26(a);
    const double alo = a - ahi;
    const double bhi = head26(b);
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
    const double scale = powerOfTwo(static_cast<int>(k));
    return add({series.hi * scale, series.lo * scale}, {-1.0, 0.0});
}

// 2^(j/128) for j = 0 to 127 as hi + lo, to about 107 bits, and hi rounded
// to a multiple of 2^-25 (26 bits), the head of hi that multiplies exactly.
struct Exp2Entry {
    double hi;
    double lo;
    double head;
};
constexpr Exp2Entry kExp2Table[128] = {
    {0x1.0000000000000p+0, 0x0.0p+0, 0x1.0000000000000p+0},
    {0x1.0163da9fb3335p+0, 0x1.b61299ab8cdb7p-54, 0x1.0163da8000000p+0},
    {0x1.02c9a3e778061p+0, -0x1.19083535b085dp-56, 0x1.02c9a40000000p+0},
    {0x1.04315e86e7f85p+0, -0x1.0a31c1977c96ep-54, 0x1.04315e8000000p+0},
    {0x1.059b0d3158574p+0, 0x1.d73e2a475b465p-55, 0x1.059b0d0000000p+0},
    {0x1.0706b29ddf6dep+0, -0x1.c91dfe2b13c27p-55, 0x1.0706b28000000p+0},
    {0x1.0874518759bc8p+0, 0x1.186be4bb284ffp-57, 0x1.0874518000000p+0},
    {0x1.09e3ecac6f383p+0, 0x1.1487818316136p-54, 0x1.09e3ec8000000p+0},
    {0x1.0b5586cf9890fp+0, 0x1.8a62e4adc610bp-54, 0x1.0b55870000000p+0},
    {0x1.0cc922b7247f7p+0, 0x1.01edc16e24f71p-54, 0x1.0cc9228000000p+0},
    {0x1.0e3ec32d3d1a2p+0, 0x1.03a1727c57b53p-59, 0x1.0e3ec30000000p+0},
    {0x1.0fb66affed31bp+0, -0x1.b9bedc44ebd7bp-57, 0x1.0fb66b0000000p+0},
    {0x1.11301d0125b51p+0, -0x1.6c51039449b3ap-54, 0x1.11301d0000000p+0},
    {0x1.12abdc06c31ccp+0, -0x1.1b514b36ca5c7p-58, 0x1.12abdc0000000p+0},
    {0x1.1429aaea92de0p+0, -0x1.32fbf9af1369ep-54, 0x1.1429ab0000000p+0},
    {0x1.15a98c8a58e51p+0, 0x1.2406ab9eeab0ap-55, 0x1.15a98c8000000p+0},
    {0x1.172b83c7d517bp+0, -0x1.19041b9d78a76p-55, 0x1.172b840000000p+0},
    {0x1.18af9388c8deap+0, -0x1.11023d1970f6cp-54, 0x1.18af938000000p+0},
    {0x1.1a35beb6fcb75p+0, 0x1.e5b4c7b4968e4p-55, 0x1.1a35be8000000p+0},
    {0x1.1bbe084045cd4p+0, -0x1.95386352ef607p-54, 0x1.1bbe088000000p+0},
    {0x1.1d4873168b9aap+0, 0x1.e016e00a2643cp-54, 0x1.1d48730000000p+0},
    {0x1.1ed5022fcd91dp+0, -0x1.1df98027bb78cp-54, 0x1.1ed5020000000p+0},
    {0x1.2063b88628cd6p+0, 0x1.dc775814a8495p-55, 0x1.2063b88000000p+0},
    {0x1.21f49917ddc96p+0, 0x1.2a97e9494a5eep-55, 0x1.21f4990000000p+0},
    {0x1.2387a6e756238p+0, 0x1.9b07eb6c70573p-54, 0x1.2387a70000000p+0},
    {0x1.251ce4fb2a63fp+0, 0x1.ac155bef4f4a4p-55, 0x1.251ce50000000p+0},
    {0x1.26b4565e27cddp+0, 0x1.2bd339940e9d9p-55, 0x1.26b4568000000p+0},
    {0x1.284dfe1f56381p+0, -0x1.a4c3a8c3f0d7ep-54, 0x1.284dfe0000000p+0},
    {0x1.29e9df51fdee1p+0, 0x1.612e8afad1255p-55, 0x1.29e9df8000000p+0},
    {0x1.2b87fd0dad990p+0, -0x1.10adcd6381aa4p-59, 0x1.2b87fd0000000p+0},
    {0x1.2d285a6e4030bp+0, 0x1.0024754db41d5p-54, 0x1.2d285a8000000p+0},
    {0x1.2ecafa93e2f56p+0, 0x1.1ca0f45d52383p-56, 0x1.2ecafa8000000p+0},
    {0x1.306fe0a31b715p+0, 0x1.6f46ad23182e4p-55, 0x1.306fe08000000p+0},
    {0x1.32170fc4cd831p+0, 0x1.a9ce78e18047cp-55, 0x1.3217100000000p+0},
    {0x1.33c08b26416ffp+0, 0x1.32721843659a6p-54, 0x1.33c08b0000000p+0},
    {0x1.356c55f929ff1p+0, -0x1.b5cee5c4e4628p-55, 0x1.356c560000000p+0},
    {0x1.371a7373aa9cbp+0, -0x1.63aeabf42eae2p-54, 0x1.371a738000000p+0},
    {0x1.38cae6d05d866p+0, -0x1.e958d3c9904bdp-54, 0x1.38cae70000000p+0},
    {0x1.3a7db34e59ff7p+0, -0x1.5e436d661f5e3p-56, 0x1.3a7db38000000p+0},
    {0x1.3c32dc313a8e5p+0, -0x1.efff8375d29c3p-54, 0x1.3c32dc0000000p+0},
    {0x1.3dea64c123422p+0, 0x1.ada0911f09ebcp-55, 0x1.3dea650000000p+0},
    {0x1.3fa4504ac801cp+0, -0x1.7d023f956f9f3p-54, 0x1.3fa4508000000p+0},
    {0x1.4160a21f72e2ap+0, -0x1.ef3691c309278p-58, 0x1.4160a20000000p+0},
    {0x1.431f5d950a897p+0, -0x1.1c7dde35f7999p-55, 0x1.431f5d8000000p+0},
    {0x1.44e086061892dp+0, 0x1.89b7a04ef80d0p-59, 0x1.44e0860000000p+0},
    {0x1.46a41ed1d0057p+0, 0x1.c944bd1648a76p-54, 0x1.46a41f0000000p+0},
    {0x1.486a2b5c13cd0p+0, 0x1.3c1a3b69062f0p-56, 0x1.486a2b8000000p+0},
    {0x1.4a32af0d7d3dep+0, 0x1.9cb62f3d1be56p-54, 0x1.4a32af0000000p+0},
    {0x1.4bfdad5362a27p+0, 0x1.d4397afec42e2p-56, 0x1.4bfdad8000000p+0},
    {0x1.4dcb299fddd0dp+0, 0x1.8ecdbbc6a7833p-54, 0x1.4dcb298000000p+0},
    {0x1.4f9b2769d2ca7p+0, -0x1.4b309d25957e3p-54, 0x1.4f9b278000000p+0},
    {0x1.516daa2cf6642p+0, -0x1.f768569bd93efp-55, 0x1.516daa0000000p+0},
    {0x1.5342b569d4f82p+0, -0x1.07abe1db13cadp-55, 0x1.5342b58000000p+0},
    {0x1.551a4ca5d920fp+0, -0x1.d689cefede59bp-55, 0x1.551a4c8000000p+0},
    {0x1.56f4736b527dap+0, 0x1.9bb2c011d93adp-54, 0x1.56f4738000000p+0},
    {0x1.58d12d497c7fdp+0, 0x1.295e15b9a1de8p-55, 0x1.58d12d8000000p+0},
    {0x1.5ab07dd485429p+0, 0x1.6324c054647adp-54, 0x1.5ab07e0000000p+0},
    {0x1.5c9268a5946b7p+0, 0x1.c4b1b816986a2p-60, 0x1.5c92688000000p+0},
    {0x1.5e76f15ad2148p+0, 0x1.ba6f93080e65ep-54, 0x1.5e76f18000000p+0},
    {0x1.605e1b976dc09p+0, -0x1.3e2429b56de47p-54, 0x1.605e1b8000000p+0},
    {0x1.6247eb03a5585p+0, -0x1.383c17e40b497p-54, 0x1.6247eb0000000p+0},
    {0x1.6434634ccc320p+0, -0x1.c483c759d8933p-55, 0x1.6434638000000p+0},
    {0x1.6623882552225p+0, -0x1.bb60987591c34p-54, 0x1.6623880000000p+0},
    {0x1.68155d44ca973p+0, 0x1.038ae44f73e65p-57, 0x1.68155d8000000p+0},
    {0x1.6a09e667f3bcdp+0, -0x1.bdd3413b26456p-54, 0x1.6a09e68000000p+0},
    {0x1.6c012750bdabfp+0, -0x1.2895667ff0b0dp-56, 0x1.6c01278000000p+0},
    {0x1.6dfb23c651a2fp+0, -0x1.bbe3a683c88abp-57, 0x1.6dfb240000000p+0},
    {0x1.6ff7df9519484p+0, -0x1.83c0f25860ef6p-55, 0x1.6ff7df8000000p+0},
    {0x1.71f75e8ec5f74p+0, -0x1.16e4786887a99p-55, 0x1.71f75e8000000p+0},
    {0x1.73f9a48a58174p+0, -0x1.0a8d96c65d53cp-54, 0x1.73f9a48000000p+0},
    {0x1.75feb564267c9p+0, -0x1.0245957316dd3p-54, 0x1.75feb58000000p+0},
    {0x1.780694fde5d3fp+0, 0x1.866b80a02162dp-54, 0x1.7806950000000p+0},
    {0x1.7a11473eb0187p+0, -0x1.41577ee04992fp-55, 0x1.7a11470000000p+0},
    {0x1.7c1ed0130c132p+0, 0x1.f124cd1164dd6p-54, 0x1.7c1ed00000000p+0},
    {0x1.7e2f336cf4e62p+0, 0x1.05d02ba15797ep-56, 0x1.7e2f338000000p+0},
    {0x1.80427543e1a12p+0, -0x1.27c86626d972bp-54, 0x1.8042758000000p+0},
    {0x1.82589994cce13p+0, -0x1.d4c1dd41532d8p-54, 0x1.8258998000000p+0},
    {0x1.8471a4623c7adp+0, -0x1.8d684a341cdfbp-55, 0x1.8471a48000000p+0},
    {0x1.868d99b4492edp+0, -0x1.fc6f89bd4f6bap-54, 0x1.868d998000000p+0},
    {0x1.88ac7d98a6699p+0, 0x1.994c2f37cb53ap-54, 0x1.88ac7d8000000p+0},
    {0x1.8ace5422aa0dbp+0, 0x1.6e9f156864b27p-54, 0x1.8ace540000000p+0},
    {0x1.8cf3216b5448cp+0, -0x1.0d55e32e9e3aap-56, 0x1.8cf3218000000p+0},
    {0x1.8f1ae99157736p+0, 0x1.5cc13a2e3976cp-55, 0x1.8f1ae98000000p+0},
    {0x1.9145b0b91ffc6p+0, -0x1.dd6792e582524p-54, 0x1.9145b08000000p+0},
    {0x1.93737b0cdc5e5p+0, -0x1.75fc781b57ebcp-57, 0x1.93737b0000000p+0},
    {0x1.95a44cbc8520fp+0, -0x1.64b7c96a5f039p-56, 0x1.95a44c8000000p+0},
    {0x1.97d829fde4e50p+0, -0x1.d185b7c1b85d1p-54, 0x1.97d82a0000000p+0},
    {0x1.9a0f170ca07bap+0, -0x1.173bd91cee632p-54, 0x1.9a0f170000000p+0},
    {0x1.9c49182a3f090p+0, 0x1.c7c46b071f2bep-56, 0x1.9c49180000000p+0},
    {0x1.9e86319e32323p+0, 0x1.824ca78e64c6ep-56, 0x1.9e86318000000p+0},
    {0x1.a0c667b5de565p+0, -0x1.359495d1cd533p-54, 0x1.a0c6678000000p+0},
    {0x1.a309bec4a2d33p+0, 0x1.6305c7ddc36abp-54, 0x1.a309bf0000000p+0},
    {0x1.a5503b23e255dp+0, -0x1.d2f6edb8d41e1p-54, 0x1.a5503b0000000p+0},
    {0x1.a799e1330b358p+0, 0x1.bcb7ecac563c7p-54, 0x1.a799e10000000p+0},
    {0x1.a9e6b5579fdbfp+0, 0x1.0fac90ef7fd31p-54, 0x1.a9e6b58000000p+0},
    {0x1.ac36bbfd3f37ap+0, -0x1.f9234cae76cd0p-55, 0x1.ac36bc0000000p+0},
    {0x1.ae89f995ad3adp+0, 0x1.7a1cd345dcc81p-54, 0x1.ae89f98000000p+0},
    {0x1.b0e07298db666p+0, -0x1.bdef54c80e425p-54, 0x1.b0e0728000000p+0},
    {0x1.b33a2b84f15fbp+0, -0x1.2805e3084d708p-57, 0x1.b33a2b8000000p+0},
    {0x1.b59728de5593ap+0, -0x1.c71dfbbba6de3p-54, 0x1.b597290000000p+0},
    {0x1.b7f76f2fb5e47p+0, -0x1.5584f7e54ac3bp-56, 0x1.b7f76f0000000p+0},
    {0x1.ba5b030a1064ap+0, -0x1.efcd30e54292ep-54, 0x1.ba5b030000000p+0},
    {0x1.bcc1e904bc1d2p+0, 0x1.23dd07a2d9e84p-55, 0x1.bcc1e90000000p+0},
    {0x1.bf2c25bd71e09p+0, -0x1.efdca3f6b9c73p-54, 0x1.bf2c258000000p+0},
    {0x1.c199bdd85529cp+0, 0x1.11065895048ddp-55, 0x1.c199be0000000p+0},
    {0x1.c40ab5fffd07ap+0, 0x1.b4537e083c60ap-54, 0x1.c40ab60000000p+0},
    {0x1.c67f12e57d14bp+0, 0x1.2884dff483cadp-54, 0x1.c67f130000000p+0},
    {0x1.c8f6d9406e7b5p+0, 0x1.1acbc48805c44p-56, 0x1.c8f6d98000000p+0},
    {0x1.cb720dcef9069p+0, 0x1.503cbd1e949dbp-56, 0x1.cb720e0000000p+0},
    {0x1.cdf0b555dc3fap+0, -0x1.dd83b53829d72p-55, 0x1.cdf0b58000000p+0},
    {0x1.d072d4a07897cp+0, -0x1.cbc3743797a9cp-54, 0x1.d072d48000000p+0},
    {0x1.d2f87080d89f2p+0, -0x1.d487b719d8578p-54, 0x1.d2f8708000000p+0},
    {0x1.d5818dcfba487p+0, 0x1.2ed02d75b3707p-55, 0x1.d5818e0000000p+0},
    {0x1.d80e316c98398p+0, -0x1.11ec18beddfe8p-54, 0x1.d80e318000000p+0},
    {0x1.da9e603db3285p+0, 0x1.c2300696db532p-54, 0x1.da9e600000000p+0},
    {0x1.dd321f301b460p+0, 0x1.2da5778f018c3p-54, 0x1.dd321f0000000p+0},
    {0x1.dfc97337b9b5fp+0, -0x1.1a5cd4f184b5cp-54, 0x1.dfc9730000000p+0},
    {0x1.e264614f5a129p+0, -0x1.7b627817a1496p-54, 0x1.e264618000000p+0},
    {0x1.e502ee78b3ff6p+0, 0x1.39e8980a9cc8fp-55, 0x1.e502ee8000000p+0},
    {0x1.e7a51fbc74c83p+0, 0x1.2d522ca0c8de2p-54, 0x1.e7a51f8000000p+0},
    {0x1.ea4afa2a490dap+0, -0x1.e9c23179c2893p-54, 0x1.ea4afa0000000p+0},
    {0x1.ecf482d8e67f1p+0, -0x1.c93f3b411ad8cp-54, 0x1.ecf4830000000p+0},
    {0x1.efa1bee615a27p+0, 0x1.dc7f486a4b6b0p-54, 0x1.efa1bf0000000p+0},
    {0x1.f252b376bba97p+0, 0x1.3a1a5bf0d8e43p-54, 0x1.f252b38000000p+0},
    {0x1.f50765b6e4540p+0, 0x1.9d3e12dd8a18bp-54, 0x1.f507658000000p+0},
    {0x1.f7bfdad9cbe14p+0, -0x1.dbb12d006350ap-54, 0x1.f7bfdb0000000p+0},
    {0x1.fa7c1819e90d8p+0, 0x1.74853f3a5931ep-55, 0x1.fa7c180000000p+0},
    {0x1.fd3c22b8f71f1p+0, 0x1.2eb74966579e7p-57, 0x1.fd3c228000000p+0},
};

// Where the fast path answers, the double-double path must give the same
// double, so the margin covers the error of both, relative to tanh (measured
// against MPFR; each margin keeps a factor of three or more over the sum).
// The double-double path strays up to 2^-60.7 between 1/16 and 1 and under
// 2^-64.7 elsewhere; the fast path, under 2^-63 everywhere and under 2^-70
// from 1 on.
double fastPathMargin(double a) {
    return a < 0x1p-4 ? 0x1p-61 : a < 1.0 ? 0x1p-59 : 0x1p-62;
}

// tanh(a) for 2^-27 < a <= 22 as hi + lo, in plain doubles.
Double2 tanhFast(double a) {
    if (a < 0x1p-5) {
        // tanh a = a + a t, t = -a^2 / 3 + 2 a^4 / 15 - ... to a^12: the rest
        // is under 2^-79 of a. |t| < 2^-11.5, so its roundings cost under
        // 2^-62 of a.
        const double a2 = a * a;
        const double t =
            a2 * (-0x1.5555555555555p-2 +
                  a2 * (0x1.1111111111111p-3 +
                        a2 * (-0x1.ba1ba1ba1ba1cp-5 +
                              a2 * (0x1.664f4882c10fap-6 +
                                    a2 * (-0x1.226e355e6c23dp-7 + a2 * 0x1.d6d3d0e157de0p-9)))));
        return {a, a * t};
    }

    // exp(2a) = 2^k 2^(j/128) exp(r) with m = 128 k + j and |r| <= ln 2 / 256.
    // ln 2 / 128 in two parts; the first has 40 significant bits, so m times
    // it is exact (m < 2^13), and so is y minus that (the two are within a
    // factor of two).
    constexpr double kInvLn2N = 0x1.71547652b82fep+7;
    constexpr double kLn2NHi = 0x1.62e42fefa2000p-8;
    constexpr double kLn2NLo = 0x1.9ef35793c7673p-48;
    const double y = 2.0 * a;
    const double m = (y * kInvLn2N + kRoundToInteger) - kRoundToInteger;
    const double rHi = y - m * kLn2NHi;
    const double rLo = -(m * kLn2NLo);
    const double r = rHi + rLo;
    // exp(r) - 1 - r to r^6 / 6!; the rest is under 2^-72. In powers of r^2,
    // which halves the chain of dependent steps.
    const double r2 = r * r;
    const double q =
        r2 *
        ((0x1p-1 + r * 0x1.5555555555555p-3) +
         r2 * ((0x1.5555555555555p-5 + r * 0x1.1111111111111p-7) + r2 * 0x1.6c16c16c16c17p-10));

    // 2^(j/128) (1 + rHi + rLo + q). rHi splits into r1, a multiple of 2^-35
    // (27 bits), and the rest; head x r1 is then exact, and every other part
    // is under 2^-16 of the sum, so each rounding there costs under 2^-69.
    constexpr double kRoundTo2PowMinus35 = 0x1.8p+17;
    const int mi = static_cast<int>(m);
    const Exp2Entry& t = kExp2Table[mi & 127];
    const double r1 = (rHi + kRoundTo2PowMinus35) - kRoundTo2PowMinus35;
    const double rTail = rHi - r1;
    const double tail = t.hi - t.head;
    const Double2 e0 = quickTwoSum(t.hi, t.head * r1);
    const double small = (tail * r1 + t.hi * rTail) + t.hi * (rLo + q) + t.lo * (1.0 + r);
    const Double2 e = quickTwoSum(e0.hi, e0.lo + small);

    // tanh a = (e - 2^-k) / (e + 2^-k), with e >= 2^(11/128) > 2^-k here, so
    // both sums are exact as hi + lo. e - 2^-k is at least 1/17 of e, so its
    // relative error is at most 17 times e's.
    const double scale = powerOfTwo(-(mi >> 7));
    Double2 num = quickTwoSum(e.hi, -scale);
    num.lo += e.lo;
    Double2 den = quickTwoSum(e.hi, scale);
    den.lo += e.lo;

    // The quotient from the reciprocal, and its correction: the quotient's
    // 26-bit head times the halves of den.hi is exact, so num - head x den
    // comes out to 2^-78 of num.
    const double inverse = 1.0 / den.hi;
    const double q1 = num.hi * inverse;
    const double headOfQ1 = head26(q1);
    const double headOfDen = head26(den.hi);
    const double rest =
        (((num.hi - headOfQ1 * headOfDen) - headOfQ1 * (den.hi - headOfDen)) + num.lo) -
        headOfQ1 * den.lo;
    return {headOfQ1, rest * inverse};
}

// tanh(a) for 2^-27 < a <= 22, rounded once.
double tanhDoubleDouble(double a) {
    const Double2 em1 = expm1Double2(2.0 * a);
    const Double2 quotient = divide(em1, add(em1, {2.0, 0.0}));
    return quotient.hi + quotient.lo;
}

// tanh(x), through the fast path where it is sure of the bits, or through
// the double-double path alone.
double showTanh(double x, bool fastPath) {
    const double magnitude = std::fabs(x);
    if (!(magnitude > 0x1p-27)) {
        // tanh(x) = x - x^3 / 3 + ...: x itself is correctly rounded (also
        // for zeros and NaN).
        return x;
    }
    if (magnitude > 22.0) {
        // 1 - tanh(22) is below 2^-62: 1 is correctly rounded.
        return std::copysign(1.0, x);
    }
    if (fastPath) {
        const Double2 fast = tanhFast(magnitude);
        const double margin = fast.hi * fastPathMargin(magnitude);
        const double above = fast.hi + (fast.lo + margin);
        if (above == fast.hi + (fast.lo - margin)) {
            return std::copysign(above, x);
        }
    }
    return std::copysign(tanhDoubleDouble(magnitude), x);
}

}  // namespace

extern "C" double queltravine_tanh(double x) {
    return showTanh(x, true);
}

extern "C" double queltravine_tanh_double_double(double x) {
    return showTanh(x, false);
}
