// Doubles the rate of the 16-bit stereo stream (22050 Hz -> 44100 Hz) for a
// sound device that plays at 44100 Hz. A half-band interpolator: every input
// frame passes through unchanged and a windowed-sinc filter makes the frame
// between it and the next, so the mirror image of the music above 11 kHz is
// removed instead of being played as a metallic hiss.
#pragma once

#include <cstdint>

// Taps on each side of the point being made: 24 input frames (1.1 ms) of
// look-ahead, images at least 70 dB down from 12 kHz on.
inline constexpr int kUpsamplerHalfTaps = 24;

struct Upsampler {
    // Weights of the input frames 0.5, 1.5, ... 23.5 frames from the new point.
    double taps[kUpsamplerHalfTaps] = {};
    // The last 2 x kUpsamplerHalfTaps input frames of each channel, written
    // twice (at i and i + window) so the window is always one run.
    int16_t history[2][4 * kUpsamplerHalfTaps] = {};
    int32_t position = 0;
};

// Computes the taps and clears the history.
void resetUpsampler(Upsampler& upsampler);

// Takes `frames` interleaved stereo input frames and writes 2 x frames
// interleaved stereo output frames. The output lags the input by
// kUpsamplerHalfTaps input frames; the state carries over between calls.
void upsampleStereo(Upsampler& upsampler, const int16_t* input, int32_t frames, int16_t* output);
