// The noise-and-wave scene written once for W lanes (GCC/Clang vector
// extensions) and compiled once per instruction set, each copy in its own
// file with its own flags. Everything here has internal linkage, so that no
// copy built for a wider instruction set can stand in for another's.
//
// Per pixel the straightforward loop takes two generator draws, two
// remainders and one sine. Here each lane runs its own stretch of the
// generator's sequence (jumped ahead), the remainders are exact in float,
// and the sine comes from rotating each lane's (sine, cosine) from chunk to
// chunk, taken afresh from a polynomial every few dozen chunks. Its result is
// trusted only where it lies clearly away from the integer the wave is
// truncated at; lanes near one are recomputed with the show's sin
// (core/show_maths.h), so every pixel is the one the straightforward loop
// gives with the same sin.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "core/demo_types.h"
#include "scenes/noise_wave.h"

namespace {

template <int W>
struct Lanes {
    typedef uint32_t U32 __attribute__((vector_size(W * 4)));
    typedef int32_t I32 __attribute__((vector_size(W * 4)));
    typedef float F32 __attribute__((vector_size(W * 4)));
    typedef double F64 __attribute__((vector_size(W * 8)));
    typedef int64_t I64 __attribute__((vector_size(W * 8)));
    typedef uint64_t U64 __attribute__((vector_size(W * 8)));
};

// No vector comparisons below: where the vectors are wider than the
// processor's registers, or masks need instructions the set lacks, the
// compiler would do them lane by lane. Signs and shifts do the same job.

// 1.0f in the lanes that are zero or positive, 0.0f in the negative ones.
template <int W>
typename Lanes<W>::F32 notNegative(const typename Lanes<W>::F32& value) {
    typename Lanes<W>::U32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return __builtin_convertvector((bits >> 31) ^ 1u, typename Lanes<W>::F32);
}

// Adding then subtracting 1.5 x 2^52 rounds a double below 2^51 to the
// nearest integer, and leaves that integer in the sum's low mantissa bits.
constexpr double kRoundingMagic = 6755399441055744.0;

// pi in three parts of at most 27 significant bits, so that k x part is
// exact for |k| < 2^26, and the rest.
constexpr double kPi1 = 3.141592651605606;       // 27 bits
constexpr double kPi2 = 1.9841871479187034e-09;  // the next 27 bits
constexpr double kPi3 = 1.1442377452219664e-17;  // the rest, rounded
constexpr double kOneOverPi = 0.3183098861837907;

// Any vector lane nonzero: halves ORed together, in registers, until one
// lane is left.
template <int W, size_t... Index>
bool anyLaneOfHalves(const typename Lanes<W>::I64& mask, std::index_sequence<Index...>) {
    const typename Lanes<W / 2>::I64 low = __builtin_shufflevector(mask, mask, Index...);
    const typename Lanes<W / 2>::I64 high = __builtin_shufflevector(mask, mask, (Index + W / 2)...);
    if constexpr (W == 2) {
        return (low | high)[0] != 0;
    } else {
        return anyLaneOfHalves<W / 2>(low | high, std::make_index_sequence<W / 4>());
    }
}

template <int W>
bool anyLane(const typename Lanes<W>::I64& mask) {
    if constexpr (W == 1) {
        return mask[0] != 0;
    } else {
        return anyLaneOfHalves<W>(mask, std::make_index_sequence<W / 2>());
    }
}

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

// The wave's sine is carried from chunk to chunk by rotating (sine, cosine)
// through W x 0.001, and taken afresh from fastSine every this many chunks,
// before the rounding of the rotations can add up: 64 rotations stay within
// 1e-14, far inside the guard.
constexpr int kChunksPerSeed = 64;
constexpr double kHalfPi = 1.5707963267948966;

// The generator's state after `steps` draws from `state`: an LCG's k-step map
// is again an LCG, state x A^k + C_k.
constexpr uint32_t jumpGenerator(uint32_t state, uint64_t steps) {
    uint32_t multiplier = 214013u;
    uint32_t increment = 2531011u;
    while (steps != 0) {
        if ((steps & 1) != 0)
            state = state * multiplier + increment;
        increment = increment * multiplier + increment;
        multiplier *= multiplier;
        steps >>= 1;
    }
    return state;
}

// The multiplier and increment of `steps` draws.
struct GeneratorStep {
    uint32_t multiplier;
    uint32_t increment;
};
constexpr GeneratorStep generatorStep(uint64_t steps) {
    return {jumpGenerator(1, steps) - jumpGenerator(0, steps), jumpGenerator(0, steps)};
}

// The whole chunks of W pixels from `begin` (the caller does what is left
// before `end`); `state` is the generator's state before the first draw of
// pixel `begin`. kFastSine is false when the frame's arguments are beyond
// the fast argument reduction: the wave then comes from sin for every lane.
// Returns how many lanes the guard sent back to sin.
template <int W, bool kFastSine>
int64_t noiseWaveLanes(const NoiseWaveSpan& span) {
    using L = Lanes<W>;
    typename L::U32 laneState;
    typename L::F64 laneIndex;
    for (int j = 0; j < W; ++j) {
        laneState[j] = jumpGenerator(span.state, 2 * static_cast<uint64_t>(j));
        laneIndex[j] = j;
    }
    constexpr GeneratorStep kOne = generatorStep(1);
    constexpr GeneratorStep kPastLanes = generatorStep(2 * W);
    constexpr uint32_t a1 = kOne.multiplier, c1 = kOne.increment;
    constexpr uint32_t aW = kPastLanes.multiplier, cW = kPastLanes.increment;

    int64_t fallbacks = 0;
    const double accumulator = span.accumulator;
    constexpr double kStepSine = smallSine(W * 0.001);
    constexpr double kStepCosine = smallCosine(W * 0.001);
    typename L::F64 sine = {};
    typename L::F64 cosine = {};
    int chunksToSeed = 0;
    int i = span.begin;
    for (; i + W <= span.end; i += W) {
        const typename L::U32 first = laneState * a1 + c1;
        const typename L::U32 second = first * a1 + c1;
        laneState = laneState * aW + cW;
        const auto firstDraw = __builtin_convertvector((first >> 16) & 0x7FFFu, typename L::I32);
        const auto secondDraw = __builtin_convertvector((second >> 16) & 0x7FFFu, typename L::I32);

        // divisor = firstDraw % 240 + 10. The product may fall just short of
        // an exact quotient, never past one: one correction.
        const auto a = __builtin_convertvector(firstDraw, typename L::F32);
        const auto quotientA = __builtin_convertvector(
            __builtin_convertvector(a * (1.0f / 240.0f), typename L::I32), typename L::F32);
        typename L::F32 remainderA = a - quotientA * 240.0f;
        remainderA -= notNegative<W>(remainderA - 240.0f) * 240.0f;
        const typename L::F32 divisor = remainderA + 10.0f;
        // noise = secondDraw % divisor. Below 2^15 by 10 to 249 the rounded
        // quotient is never far enough off to cross an integer.
        const auto b = __builtin_convertvector(secondDraw, typename L::F32);
        const auto quotientB = __builtin_convertvector(
            __builtin_convertvector(b / divisor, typename L::I32), typename L::F32);
        const auto noise = __builtin_convertvector(b - quotientB * divisor, typename L::I32);

        typename L::I32 wave;
        if constexpr (kFastSine) {
            // The lanes' arguments i x 0.001 + accumulator, each rounded,
            // differ from the rotation's exact steps by under 2e-10: far
            // inside the guard too.
            if (chunksToSeed == 0) {
                const typename L::F64 x =
                    (laneIndex + static_cast<double>(i)) * 0.001 + accumulator;
                fastSine<W>(x, &sine);
                const typename L::F64 quarterOn = x + kHalfPi;
                fastSine<W>(quarterOn, &cosine);
                chunksToSeed = kChunksPerSeed;
            }
            --chunksToSeed;
            const typename L::F64 height = sine * -1000.0;
            wave = __builtin_convertvector(height, typename L::I32);
            const typename L::F64 nearest = (height + kRoundingMagic) - kRoundingMagic;
            const typename L::F64 distance = height - nearest;
            // 1 in the lanes closer than the margin to an integer.
            typename L::I64 magnitude;
            std::memcpy(&magnitude, &distance, sizeof magnitude);
            magnitude &= INT64_MAX;
            typename L::F64 belowMargin;
            std::memcpy(&belowMargin, &magnitude, sizeof belowMargin);
            belowMargin -= kWaveGuardMargin;
            typename L::I64 close;
            std::memcpy(&close, &belowMargin, sizeof close);
            close = (typename L::I64)((typename L::U64)close >> 63);
            if (anyLane<W>(close)) {
                for (int j = 0; j < W; ++j) {
                    if (std::fabs(distance[j]) < kWaveGuardMargin) {
                        wave[j] = waveFromSin(static_cast<double>(i + j) * 0.001 + accumulator);
                        ++fallbacks;
                    }
                }
            }
            const typename L::F64 nextSine = sine * kStepCosine + cosine * kStepSine;
            cosine = cosine * kStepCosine - sine * kStepSine;
            sine = nextSine;
        } else {
            for (int j = 0; j < W; ++j)
                wave[j] = waveFromSin(static_cast<double>(i + j) * 0.001 + accumulator);
        }

        typename L::U32 picture;
        std::memcpy(&picture, span.picture + i, sizeof picture);
        const typename L::U32 pixels = ((typename L::U32)noise - (typename L::U32)wave) | picture;
        std::memcpy(span.back + i, &pixels, sizeof pixels);
    }

    return fallbacks;
}

template <int W>
int64_t noiseWaveSpanFor(const NoiseWaveSpan& span) {
    return span.fastSine ? noiseWaveLanes<W, true>(span) : noiseWaveLanes<W, false>(span);
}

}  // namespace
