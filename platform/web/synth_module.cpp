// The synthesiser as the audio worklet's own wasm module: no imports, one
// block buffer, and the residues to post after each block. The worklet calls
// fillBlock whenever it starts on a block, so the next one is ready ahead of
// need.
#include <cstdint>

#include "platform/audio_output.h"
#include "synth/synthesiser.h"

namespace {

uint8_t block[kAudioBlockBytes];

}  // namespace

extern "C" {

uint8_t* blockBuffer() {
    return block;
}

int32_t blockBytes() {
    return kAudioBlockBytes;
}

void fillBlock() {
    fillStereoBlock(nullptr, block, kAudioBlockBytes, kAudioUserValue);
}

int32_t residueA() {
    return stepResidueA.load(std::memory_order_relaxed);
}

int32_t residueB() {
    return stepResidueB.load(std::memory_order_relaxed);
}
}
