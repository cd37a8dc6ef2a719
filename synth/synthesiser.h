// The procedural stereo synthesiser: ten single-precision state values that
// fillStereoBlock advances one stereo frame at a time. No score, no samples.
#pragma once

#include <atomic>
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

// Owned by the audio thread: only the synthesiser's calls below touch them.
extern SynthState synthState;
extern RandomGenerator synthRandom;

// Published by the synthesiser at the end of every block it makes, read once
// per frame by the scene timeline. Each is -479 to 479 and 0 until the first
// block.
extern std::atomic<int32_t> stepResidueA;
extern std::atomic<int32_t> stepResidueB;

// Every player, the renderer and the page ask for the stream in blocks of
// this many frames (40,000 bytes): the residues change once per block.
inline constexpr int32_t kSynthBlockFrames = 10000;
inline constexpr int32_t kSynthBlockBytes = kSynthBlockFrames * kAudioBytesPerFrame;

// Puts the synthesiser, its generator and the residues back to their state
// at process start (the renderer and the page make the stream from there).
void resetSynthesiser();

// Writes the next `frames` stereo frames of the stream into `out`
// (interleaved signed 16-bit, left first, little-endian: the native order of
// every target), then publishes stepResidueA and stepResidueB, also when
// `frames` is 0.
void makeStereoFrames(int16_t* out, int32_t frames);

// The residues a synthesiser elsewhere published (the page's, which runs in
// its audio worklet), made the ones the timeline reads.
void takeResidues(int32_t a, int32_t b);

// The same call in the shape of a sound library's pull-stream callback:
// byteCount / 4 frames into buffer, a trailing 1 to 3 bytes left untouched.
// The stream handle and the user value are ignored. Returns 1: the stream
// always goes on.
int fillStereoBlock(void* stream, void* buffer, int32_t byteCount, int32_t userValue);
