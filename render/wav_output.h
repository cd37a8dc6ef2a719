// The renderer's audio: the synthesiser run from its state at process start
// in whole blocks, as the real-time player asks for them, and the WAV file.
#pragma once

#include <cstdint>
#include <string>

#include "render/schedule.h"

// The 44-byte header of a 22050 Hz 16-bit stereo PCM WAV file holding
// `frames` stereo frames. Returns false when the data would not fit in the
// format's 32-bit sizes.
bool makeWavHeader(int64_t frames, uint8_t header[44]);

// Puts the synthesiser, its generator and the residues back to their state
// at process start; later blocks will be blockBytes long.
void restartAudio(int32_t blockBytes);

// While fewer than `needed` stereo frames have been made since the restart,
// makes the next block and returns it (audioBlockFrames() frames); then null.
const uint8_t* nextAudioBlock(int64_t needed);
int32_t audioBlockFrames();

// Writes the schedule's audio to path, from the first frame written to the
// end of the video.
void writeWav(const RenderSchedule& schedule, const std::string& path);
