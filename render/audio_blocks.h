// The renderer's audio: the synthesiser run from its state at process start
// in whole blocks, as the real-time player asks for them.
#pragma once

#include <cstdint>

// Puts the synthesiser, its generator and the residues back to their state
// at process start; later blocks will be blockBytes / 4 stereo frames long
// (the bytes a sound library would ask for).
void restartAudio(int32_t blockBytes);

// While fewer than `needed` stereo frames have been made since the restart,
// makes the next block and returns it (audioBlockFrames() frames); then null.
const uint8_t* nextAudioBlock(int64_t needed);
int32_t audioBlockFrames();
