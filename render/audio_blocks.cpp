#include "render/audio_blocks.h"

#include <vector>

#include "platform/audio_output.h"
#include "synth/synthesiser.h"

namespace {

std::vector<uint8_t> audioBlock;
int32_t blockFrames = 0;
int64_t audioProduced = 0;

}  // namespace

void restartAudio(int32_t blockBytes) {
    synthState = {};
    synthRandom = {};
    stepResidueA = 0;
    stepResidueB = 0;
    audioBlock.resize(static_cast<size_t>(blockBytes));
    blockFrames = blockBytes / kAudioBytesPerFrame;
    audioProduced = 0;
}

const uint8_t* nextAudioBlock(int64_t needed) {
    if (audioProduced >= needed)
        return nullptr;
    fillStereoBlock(nullptr, audioBlock.data(), static_cast<int32_t>(audioBlock.size()),
                    kAudioUserValue);
    audioProduced += blockFrames;
    return audioBlock.data();
}

int32_t audioBlockFrames() {
    return blockFrames;
}
