// Types, sizes and helpers shared by every subsystem of the demo.
#pragma once

#include <cstddef>
#include <cstdint>

// One pixel: a 32-bit word 0xFFRRGGBB (blue in the low byte). Effects treat it
// as a whole word, so carries and borrows cross from one colour byte to the next.
using Pixel = uint32_t;

inline constexpr int kScreenWidth = 640;
inline constexpr int kScreenHeight = 480;
inline constexpr int kScreenPixels = kScreenWidth * kScreenHeight;  // 307,200

// The frame that every scene composes into. Rows of 640 pixels with no gap;
// cleared once at start-up and never between frames.
struct VirtualBackBuffer {
    static constexpr int width = kScreenWidth;
    static constexpr int height = kScreenHeight;
    static constexpr int pixels = kScreenPixels;
    static constexpr size_t bytes = size_t{pixels} * sizeof(Pixel);  // 1,228,800
};

// A full-screen picture, in the back buffer's layout.
struct Picture {
    static constexpr int width = kScreenWidth;
    static constexpr int height = kScreenHeight;
    static constexpr int pixels = kScreenPixels;
    static constexpr size_t bytes = size_t{pixels} * sizeof(Pixel);
    static constexpr int count = 5;  // warning, credits, part1, part2, part3
};

// The long greetings strip, row r starting at element r x 5455.
struct GreetingsStrip {
    static constexpr int width = 5455;
    static constexpr int height = 49;
    static constexpr int pixels = width * height;                    // 267,295
    static constexpr size_t bytes = size_t{pixels} * sizeof(Pixel);  // 1,069,180
};

// Chosen once from the command line.
enum class DisplayMode : uint8_t {
    fullscreen = 0,  // exclusive 640x480x32 with page flipping
    windowed = 3,    // borderless window, frame stretched onto it
};

// The conversion from floating point to integer used everywhere: toward zero
// into a signed 64-bit value whose low 32 bits are the result. NaN, the
// infinities and magnitudes of 2^63 or more become -2^63, whose low 32 bits
// are 0. The range is checked first: converting such values directly is
// undefined behaviour in C++.
inline int32_t truncToInt(double value) {
    constexpr double kTwo63 = 9223372036854775808.0;
    int64_t wide = INT64_MIN;
    if (value > -kTwo63 && value < kTwo63) {  // false for NaN
        wide = static_cast<int64_t>(value);
    }
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
}

// The demo's pseudo-random generator: the classic linear congruential C-runtime
// generator, one instance per thread that draws, each starting at state 1.
// Its fixed sequence makes every frame and every sample reproducible.
inline constexpr uint32_t kGeneratorMultiplier = 214013u;
inline constexpr uint32_t kGeneratorIncrement = 2531011u;

struct RandomGenerator {
    uint32_t state = 1;

    // A value from 0 to 32767.
    int32_t draw() {
        state = state * kGeneratorMultiplier + kGeneratorIncrement;
        return static_cast<int32_t>((state >> 16) & 0x7FFFu);
    }
};

// The generator's state after `steps` draws from `state`: an LCG's k-step map
// is again an LCG, state x A^k + C_k.
constexpr uint32_t jumpGenerator(uint32_t state, uint64_t steps) {
    uint32_t multiplier = kGeneratorMultiplier;
    uint32_t increment = kGeneratorIncrement;
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
