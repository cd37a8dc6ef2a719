// The procedural stereo synthesiser: ten single-precision state values that
// fillStereoBlock advances one stereo frame at a time. No score, no samples.
#pragma once

#include <cstdint>

#include "core/demo_types.h"

inline constexpr int kAudioRate = 22050;       // stereo frames per second
inline constexpr int kAudioBytesPerFrame = 4;  // left, right: signed 16-bit LE

struct SynthState {
    float phaseA = 0;     // noise oscillator phase (radians, never wrapped)
    float stepA = 0;      // its per-frame increment besides 0.0142
    float phaseB = 0;     // second oscillator phase
    float stepB = 0;      // its per-frame increment besides 0.01
    float modPhase1 = 0;  // slow modulation, 5.5 rad per second of audio
    float modPhase2 = 0;  // slow modulation, 4.25 rad per second of audio
    float outL1 = 0;      // left smoothing stage: output one frame back
    float outL2 = 0;      //   and two frames back
    float outR1 = 0;      // the same for the right channel
    float outR2 = 0;
};

// The two channel inputs of one frame from the oscillator values a and b:
// left is the low 16 bits of a XOR b, right is a plus the sign-keeping
// remainder left rem 10, both wrapping at 16 bits.
struct ChannelInputs {
    int32_t left;
    int32_t right;
};
inline ChannelInputs channelInputs(int32_t a, int32_t b) {
    const auto low16 = [](uint32_t value) -> int32_t {
        return static_cast<int16_t>(static_cast<uint16_t>(value));
    };
    const int32_t x = low16(static_cast<uint32_t>(a) ^ static_cast<uint32_t>(b));
    return {x, low16(static_cast<uint32_t>(a) + static_cast<uint32_t>(x % 10))};
}

// Owned by the audio thread: only fillStereoBlock touches them.
extern SynthState synthState;
extern RandomGenerator synthRandom;

// The audio stream's fill callback. Writes byteCount / 4 stereo frames
// (interleaved signed 16-bit little-endian, left first) into buffer, leaves a
// trailing 1 to 3 bytes untouched, then publishes stepResidueA and
// stepResidueB, also when no frame was written. The stream handle and the
// user value are ignored. Returns 1: the stream always goes on.
int fillStereoBlock(void* stream, void* buffer, int32_t byteCount, int32_t userValue);
