// What every native backend hands its 44100 Hz sound device: the
// synthesiser's 22050 Hz stream, pulled in whole 40,000-byte blocks and
// doubled in rate by the project's half-band upsampler (synth/upsampler), so
// the same samples reach the device on every platform and in the renderer's
// `--wav-rate 44100` WAV. A block is made only when the device asks for
// sound the previous one no longer holds, so the synthesiser's residues
// change once per block and nothing runs ahead of the device.
#pragma once

#include <cstdint>

#include "platform/audio_output.h"
#include "synth/synthesiser.h"
#include "synth/upsampler.h"

// The device frames made from one block of the stream.
inline constexpr int32_t kAudioFeedBlockFrames = 2 * kSynthBlockFrames;

struct AudioFeed {
    Upsampler upsampler;
    // The last block as the synthesiser made it (kept here, not on the
    // stack: SDL's audio thread has a small one).
    int16_t block[2 * kSynthBlockFrames] = {};
    // The same block, doubled: interleaved stereo at 44100 Hz.
    int16_t doubled[2 * kAudioFeedBlockFrames] = {};
    // Device frames of `doubled` already handed out; a full count means a
    // new block is made before the next frame goes out.
    int32_t handedOut = kAudioFeedBlockFrames;
};

// The stream's start: the upsampler cleared (its lag of kUpsamplerHalfTaps
// stream frames is played from here, as the renderer writes it), nothing
// pending. The synthesiser's own state is not touched.
void resetAudioFeed(AudioFeed& feed);

// Writes `frames` interleaved 16-bit stereo frames at 44100 Hz, the next of
// the stream, making a block of the synthesiser's for each it starts. The
// feed is not thread-safe: one thread at a time, handed over with a join.
void feedAudio(AudioFeed& feed, int16_t* out, int32_t frames);
