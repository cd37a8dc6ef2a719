// The synthesiser as the audio worklet's own wasm module: no imports, one
// output buffer, and the residues to post after each block. The worklet
// calls playStream once per render quantum (audio_stream.h: the music at
// 44100 Hz, the next block made ahead in slices); a test drives the same
// calls in Node to compare the module's output with the native renderer's.
#include <algorithm>
#include <cstdint>

#include "platform/web/audio_stream.h"

namespace {

// More than any render quantum a browser uses (128 frames today).
constexpr int32_t kMaxCallFrames = 4096;
int16_t output[2 * kMaxCallFrames];
// The synthesiser's own 22050 Hz blocks, for comparing the stream itself
// with the other platforms' (tests/identity); the worklet never calls it.
int16_t rawBlock[2 * kSynthBlockFrames];

}  // namespace

extern "C" {

void startStream() {
    startAudioStream();
}

int16_t* streamBuffer() {
    return output;
}

int32_t streamBufferFrames() {
    return kMaxCallFrames;
}

int32_t streamRate() {
    return kAudioDeviceRate;
}

// Writes `frames` (at most kMaxCallFrames) frames into streamBuffer; returns
// how many are music (0 while the first block is made: those are silence).
int32_t playStream(int32_t frames) {
    frames = std::clamp(frames, 0, kMaxCallFrames);
    const int32_t music = playAudioStream(output, frames);
    std::fill(output + 2 * music, output + 2 * frames, int16_t{0});
    return music;
}

// Counts that stay far below 2^31 (a block is 0.45 s of music).
int32_t blocksMade() {
    return static_cast<int32_t>(audioStreamBlocksMade());
}

int32_t lateBlocks() {
    return static_cast<int32_t>(audioStreamLateBlocks());
}

// The next 40,000-byte block of the 22050 Hz stream into rawBlockBuffer, in
// a module that plays nothing (a separate instance from the worklet's).
int16_t* rawBlockBuffer() {
    return rawBlock;
}

void fillRawBlock() {
    makeStereoFrames(rawBlock, kSynthBlockFrames);
}

int32_t residueA() {
    return stepResidueA.load(std::memory_order_relaxed);
}

int32_t residueB() {
    return stepResidueB.load(std::memory_order_relaxed);
}
}
