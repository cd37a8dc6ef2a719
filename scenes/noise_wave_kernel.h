// The noise-and-wave scene written once for W lanes (GCC/Clang vector
// extensions) and compiled once per instruction set, each copy in its own
// file with its own flags. Everything here has internal linkage, so that no
// copy built for a wider instruction set can stand in for another's.
//
// Per pixel the straightforward loop takes two generator draws, two
// remainders and one sine. Here each lane runs its own stretch of the
// generator's sequence (jumped ahead), the remainders are exact in float,
// and each lane's wave height comes from a two-term recurrence from chunk to
// chunk, taken afresh from a polynomial every few dozen chunks, and is read
// as a fixed-point number. It is trusted only where it lies clearly away
// from the integer the wave is truncated at; lanes near one are recomputed
// with the show's sin (core/show_maths.h), so every pixel is the one the
// straightforward loop gives with the same sin.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "core/demo_types.h"
#include "scenes/noise_wave.h"
#include "scenes/vector_lanes.h"

namespace {

// No vector comparisons below: where the vectors are wider than the
// processor's registers, or masks need instructions the set lacks, the
// compiler would do them lane by lane. Signs and shifts do the same job.

// 1.5 x 2^23 and its bits: added to a float of magnitude below 2^22, it
// rounds it to an integer and leaves it in the sum's low mantissa bits.
constexpr float kFloatRoundingMagic = 12582912.0f;
constexpr int32_t kFloatRoundingMagicBits = 0x4B400000;

// Adding then subtracting 1.5 x 2^52 rounds a double below 2^51 to the
// nearest integer, and leaves that integer in the sum's low mantissa bits.
constexpr double kRoundingMagic = 6755399441055744.0;

// pi in three parts of at most 27 significant bits, so that k x part is
// exact for |k| < 2^26, and the rest.
constexpr double kPi1 = 3.141592651605606;       // 27 bits
constexpr double kPi2 = 1.9841871479187034e-09;  // the next 27 bits
constexpr double kPi3 = 1.1442377452219664e-17;  // the rest, rounded
constexpr double kOneOverPi = 0.3183098861837907;

// sin(x) = (-1)^k sin(x - k pi) with k the integer nearest x / pi, the sine
// of the reduced argument (within pi/2) from its Taylor series to the r^17
// term: at most 5e-14 off, where the guard needs 1e-7.
// Through references: vectors wider than the baseline's registers may not be
// passed by value without changing the calling convention.
template <int W>
void fastSine(const typename Lanes<W>::F64& x, typename Lanes<W>::F64* sine) {
    using F64 = typename Lanes<W>::F64;
    using I64 = typename Lanes<W>::I64;
    const F64 shifted = x * kOneOverPi + kRoundingMagic;
    const F64 k = shifted - kRoundingMagic;
    I64 parity;
    std::memcpy(&parity, &shifted, sizeof parity);
    const F64 r = ((x - k * kPi1) - k * kPi2) - k * kPi3;
    const F64 z = r * r;
    const F64 series =
        r +
        r * z *
            (-0.16666666666666666 +
             z * (0.008333333333333333 + z * (-0.0001984126984126984 +
                                              z * (2.7557319223985893e-06 +
                                                   z * (-2.505210838544172e-08 +
                                                        z * (1.6059043836821613e-10 +
                                                             z * (-7.647163731819816e-13 +
                                                                  z * 2.8114572543455206e-15)))))));
    I64 bits;
    std::memcpy(&bits, &series, sizeof bits);
    bits ^= (parity & 1) << 63;
    std::memcpy(sine, &bits, sizeof *sine);
}

// sin and cos of a small step (|x| < 0.1) from their Taylor series, at
// compile time: the terms left out are below 1e-19.
constexpr double smallSine(double x) {
    const double z = x * x;
    return x * (1.0 - z / 6.0 * (1.0 - z / 20.0 * (1.0 - z / 42.0 * (1.0 - z / 72.0))));
}
constexpr double smallCosine(double x) {
    const double z = x * x;
    return 1.0 - z / 2.0 * (1.0 - z / 12.0 * (1.0 - z / 30.0 * (1.0 - z / 56.0)));
}

// Each lane's height h = -1000 sin(x) is carried from chunk to chunk by the
// recurrence h(x + t) = 2 cos(t) h(x) - h(x - t), t = the group's pixels x
// 0.001: one multiply and one subtraction a lane. It is taken afresh from
// fastSine every this many groups. A rounding error made n steps back has
// grown at most n times by now, so 32 steps leave the height within 1e-9 of
// fastSine's, far inside the guard.
constexpr int kGroupsPerSeed = 32;
// Chunks composed side by side, each with its own recurrence and generator
// states: the two are chains of dependent steps, and side by side their
// latencies overlap.
constexpr int kChunksPerGroup = 2;
constexpr double kHalfPi = 1.5707963267948966;

// Adding 1.5 x 2^36 to a height below 2^31 / 2^16 rounds it to a multiple of
// 2^-16 and leaves it, as a 16.16 fixed-point number, in the sum's low 32 bits.
constexpr double kFixedPointMagic = 103079215104.0;
constexpr int32_t kFixedPointOne = 65536;
// The guard in fixed-point steps: a fraction at least this far from an
// integer is at least kWaveGuardMargin from it before the rounding to 2^-16.
constexpr int32_t kGuardSteps = static_cast<int32_t>(kWaveGuardMargin * kFixedPointOne + 0.5) + 1;
static_assert((kGuardSteps - 0.5) / kFixedPointOne >= kWaveGuardMargin);

// The doubles of W lanes are kept as two vectors of W/2 (one where W is 1):
// a vector wider than the instruction set's registers, carried from one
// iteration to the next, is kept in memory by the compiler, and stored in
// halves and read whole, which stalls.
template <int W>
struct DoubleHalves {
    static constexpr int count = W == 1 ? 1 : 2;
    static constexpr int lanes = W / count;
    typedef typename Lanes<lanes>::F64 F64;
};

// The low 32 bits of each double's lane (the machine is little-endian), by
// one shuffle of the two halves.
template <int W, size_t... Index>
typename Lanes<W>::I32 lowWords(const typename DoubleHalves<W>::F64* halves,
                                std::index_sequence<Index...>) {
    if constexpr (W == 1) {
        int32_t word;
        std::memcpy(&word, &halves[0], sizeof word);
        return typename Lanes<1>::I32{word};
    } else {
        typename Lanes<W>::I32 low, high;
        std::memcpy(&low, &halves[0], sizeof low);
        std::memcpy(&high, &halves[1], sizeof high);
        return __builtin_shufflevector(low, high, (2 * Index)...);
    }
}

// The noise, secondDraw % (firstDraw % 240 + 10), of two draws (whole floats
// below 2^15) in float arithmetic, exact for every pair.
template <int W>
typename Lanes<W>::I32 noiseFromDraws(const typename Lanes<W>::F32& a,
                                      const typename Lanes<W>::F32& b) {
    using L = Lanes<W>;
    // Whole quotients without a conversion to integers (which WebAssembly
    // makes dear): adding 1.5 x 2^23 rounds a float below 2^22 to the
    // nearest integer. Each rounding below is at least 1/500 clear of a tie.
    // divisor = a % 240 + 10: below 2^15, a / 240 + 1/480 - 1/2 lies at
    // least 1/480 from a tie, and the float error is under 1e-4.
    const typename L::F32 quotientA =
        ((a * (1.0f / 240.0f) + (1.0f / 480.0f - 0.5f)) + kFloatRoundingMagic) -
        kFloatRoundingMagic;
    const typename L::F32 divisor = (a + 10.0f) - quotientA * 240.0f;
    // noise = b % divisor: b / divisor, correctly rounded, is either a whole
    // quotient or at least 1/249 away from one, and within 2^-12 of the exact
    // quotient below 2^15 / 10.
    const typename L::F32 quotientB =
        ((b / divisor - 0.498f) + kFloatRoundingMagic) - kFloatRoundingMagic;
    // The remainder, a whole float below 249, read from the bits of its sum
    // with the magic.
    const typename L::F32 noise = (b - quotientB * divisor) + kFloatRoundingMagic;
    typename L::I32 bits;
    std::memcpy(&bits, &noise, sizeof bits);
    return bits - kFloatRoundingMagicBits;
}

// The generator's two draws for each lane's pixel, from the lane's state
// before them, turned into the pixel's noise.
template <int W>
typename Lanes<W>::I32 noiseOfDraws(const typename Lanes<W>::U32& state) {
    using L = Lanes<W>;
    constexpr GeneratorStep kOne = generatorStep(1);
    constexpr GeneratorStep kTwo = generatorStep(2);
    const typename L::U32 first = state * kOne.multiplier + kOne.increment;
    const typename L::U32 second = state * kTwo.multiplier + kTwo.increment;
    const auto a = __builtin_convertvector((first >> 16) & 0x7FFFu, typename L::F32);
    const auto b = __builtin_convertvector((second >> 16) & 0x7FFFu, typename L::F32);
    return noiseFromDraws<W>(a, b);
}

// The whole groups of U chunks of W pixels from `first`, up to `end`;
// returns where it stopped. Each chunk of a group has its own generator
// states and heights, so that the group's chunks do not wait on one
// another. `state` is the generator's state before pixel `first`.
// kFastSine is false when the frame's arguments are beyond the fast argument
// reduction: the wave then comes from sin for every lane.
template <int W, int U, bool kFastSine>
int composeGroups(const NoiseWaveSpan& span, int first, uint32_t state, int64_t* fallbacks) {
    using L = Lanes<W>;
    constexpr int kGroup = U * W;
    typename L::U32 laneState[U];
    using Halves = DoubleHalves<W>;
    typename Halves::F64 halfIndex;
    for (int j = 0; j < Halves::lanes; ++j)
        halfIndex[j] = j;
    for (int u = 0; u < U; ++u) {
        for (int j = 0; j < W; ++j)
            laneState[u][j] = jumpGenerator(state, 2 * static_cast<uint64_t>(u * W + j));
    }
    constexpr GeneratorStep kPastGroup = generatorStep(2 * kGroup);

    const double accumulator = span.accumulator;
    constexpr double kStepSine = smallSine(kGroup * 0.001);
    constexpr double kStepCosine = smallCosine(kGroup * 0.001);
    constexpr double kTwoStepCosine = 2.0 * kStepCosine;
    typename Halves::F64 height[U][Halves::count] = {};
    typename Halves::F64 previous[U][Halves::count] = {};
    int groupsToSeed = 0;
    int i = first;
    for (; i + kGroup <= span.end; i += kGroup) {
        typename L::I32 wave[U];
        if constexpr (kFastSine) {
            // The lanes' arguments i x 0.001 + accumulator, each rounded,
            // differ from the recurrence's exact steps by under 4e-9 (at the
            // fast sine's limit): 4e-6 on the height, inside the guard.
            if (groupsToSeed == 0) {
                for (int u = 0; u < U; ++u) {
                    for (int h = 0; h < Halves::count; ++h) {
                        const typename Halves::F64 x =
                            (halfIndex + static_cast<double>(i + u * W + h * Halves::lanes)) *
                                0.001 +
                            accumulator;
                        typename Halves::F64 sine, cosine;
                        fastSine<Halves::lanes>(x, &sine);
                        fastSine<Halves::lanes>(x + kHalfPi, &cosine);
                        // The step before from the same x, so that both seeds
                        // lie on one wave and the recurrence does not grow
                        // their difference.
                        height[u][h] = sine * -1000.0;
                        previous[u][h] = (sine * kStepCosine - cosine * kStepSine) * -1000.0;
                    }
                }
                groupsToSeed = kGroupsPerSeed;
            }
            --groupsToSeed;
            typename L::I32 anyClose = {};
            typename L::I32 close[U];
            for (int u = 0; u < U; ++u) {
                typename Halves::F64 rounded[Halves::count];
                for (int h = 0; h < Halves::count; ++h)
                    rounded[h] = height[u][h] + kFixedPointMagic;
                const typename L::I32 fixed = lowWords<W>(rounded, std::make_index_sequence<W>());
                // Truncated towards zero: negative heights round up.
                wave[u] = (fixed + ((fixed >> 31) & (kFixedPointOne - 1))) >> 16;
                // 1 in the lanes closer than the guard to an integer.
                close[u] = (typename L::I32)(
                    (typename L::U32)(((fixed + kGuardSteps) & (kFixedPointOne - 1)) -
                                      2 * kGuardSteps) >>
                    31);
                anyClose |= close[u];
                for (int h = 0; h < Halves::count; ++h) {
                    const typename Halves::F64 next =
                        height[u][h] * kTwoStepCosine - previous[u][h];
                    previous[u][h] = height[u][h];
                    height[u][h] = next;
                }
            }
            if (anyLane32<W>(anyClose)) {
                for (int u = 0; u < U; ++u) {
                    for (int j = 0; j < W; ++j) {
                        if (close[u][j] != 0) {
                            wave[u][j] = waveFromSin(static_cast<double>(i + u * W + j) * 0.001 +
                                                     accumulator);
                            ++*fallbacks;
                        }
                    }
                }
            }
        } else {
            int32_t fromSin[kGroup];
            for (int k = 0; k < kGroup; ++k)
                fromSin[k] = waveFromSin(static_cast<double>(i + k) * 0.001 + accumulator);
            std::memcpy(wave, fromSin, sizeof wave);
        }

        for (int u = 0; u < U; ++u) {
            const typename L::I32 noise = noiseOfDraws<W>(laneState[u]);
            laneState[u] = laneState[u] * kPastGroup.multiplier + kPastGroup.increment;
            typename L::U32 picture;
            std::memcpy(&picture, span.picture + i + u * W, sizeof picture);
            const typename L::U32 pixels =
                ((typename L::U32)noise - (typename L::U32)wave[u]) | picture;
            std::memcpy(span.back + i + u * W, &pixels, sizeof pixels);
        }
    }
    return i;
}

// The whole chunks of W pixels from span.begin (the caller does what is left
// before span.end), in groups, then the chunks too few for a group one at a
// time. Returns how many lanes the guard sent back to sin.
template <int W, bool kFastSine>
int64_t noiseWaveLanes(const NoiseWaveSpan& span) {
    int64_t fallbacks = 0;
    const int grouped =
        composeGroups<W, kChunksPerGroup, kFastSine>(span, span.begin, span.state, &fallbacks);
    const uint32_t state =
        jumpGenerator(span.state, 2 * static_cast<uint64_t>(grouped - span.begin));
    composeGroups<W, 1, kFastSine>(span, grouped, state, &fallbacks);
    return fallbacks;
}

template <int W>
int64_t noiseWaveSpanFor(const NoiseWaveSpan& span) {
    return span.fastSine ? noiseWaveLanes<W, true>(span) : noiseWaveLanes<W, false>(span);
}

}  // namespace
