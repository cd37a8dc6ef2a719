// The browser's music at 44100 Hz, one render quantum at a time. Each call
// plays from the block made before and then makes a slice of the next block
// ahead of need, so no call does more than a small, even share of the work:
// a whole 10,000-frame block with its upsampling costs more than one
// 128-frame quantum lasts (2.9 ms). The blocks are still whole synthesiser
// blocks, so the residues still change once per block. Plain code (no
// browser calls), so it is tested natively.
#pragma once

#include <cstdint>

#include "platform/audio_output.h"
#include "synth/synthesiser.h"

// Stream frames made per output frame played: a block is made in a quarter of
// the time the one before it plays (40 quanta of 128 frames)...
inline constexpr int32_t kMakeAheadPerFrame = 2;
// ...and the first, while only silence plays, in 20 quanta (58 ms).
inline constexpr int32_t kFirstMakeAheadPerFrame = 4;

// Puts the synthesiser, its generator, the residues and the upsampler back
// to their state at process start; nothing is made yet.
void startAudioStream();

// Writes `frames` interleaved stereo 44100 Hz frames into `out`: the
// synthesiser's stream from its start, through the upsampler. Returns how
// many came from the music: 0 while the first block is still being made
// (the caller plays silence), else all of them. Then makes the next slice
// of the block ahead.
int32_t playAudioStream(int16_t* out, int32_t frames);

// Whole blocks made since the start; the synthesiser's published residues
// are those of the last one right after this count grows.
int64_t audioStreamBlocksMade();
// How often a block was not ready when its turn came and had to be finished
// in the call that needed it (a call that lasted too long): 0 normally.
int64_t audioStreamLateBlocks();
