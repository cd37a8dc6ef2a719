// The renderer's WAV file: the audio blocks of the schedule, from the first
// frame written to the end.
#pragma once

#include <cstdint>
#include <string>

#include "render/schedule.h"

// The 44-byte header of a 22050 Hz 16-bit stereo PCM WAV file holding
// `frames` stereo frames. Returns false when the data would not fit in the
// format's 32-bit sizes.
bool makeWavHeader(int64_t frames, uint8_t header[44]);

// Writes the schedule's audio to path, from the first frame written to the
// end of the video.
void writeWav(const RenderSchedule& schedule, const std::string& path);
