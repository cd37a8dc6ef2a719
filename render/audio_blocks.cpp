#include "render/audio_blocks.h"

#include <vector>

#include "synth/synthesiser.h"

namespace {

std::vector<int16_t> audioBlock;
int32_t blockFrames = 0;
int64_t audioProduced = 0;

}  // namespace

void restartAudio(int32_t blockBytes) {
    resetSynthesiser();
    blockFrames = blockBytes / kAudioBytesPerFrame;
    audioBlock.resize(2 * static_cast<size_t>(blockFrames));
    audioProduced = 0;
}

const uint8_t* nextAudioBlock(int64_t needed) {
    if (audioProduced >= needed)
        return nullptr;
    makeStereoFrames(audioBlock.data(), blockFrames);
    audioProduced += blockFrames;
    return reinterpret_cast<const uint8_t*>(audioBlock.data());
}

int32_t audioBlockFrames() {
    return blockFrames;
}
