// The renderer's WAV file: the audio blocks of the schedule, from the first
// frame written to the end.
#pragma once

#include <cstdint>
#include <string>

#include "render/schedule.h"

// The 44-byte header of a 16-bit stereo PCM WAV file of `rate` frames a
// second holding `frames` stereo frames. Returns false when the data would
// not fit in the format's 32-bit sizes.
bool makeWavHeader(int64_t frames, uint8_t header[44], int32_t rate = 22050);

// Writes the schedule's audio to path, from the first frame written to the
// end of the video: at 22050 Hz the synthesiser's stream, at 44100 Hz that
// stream through the project's upsampler (as the native players play it,
// from the start of the stream, lag included).
void writeWav(const RenderSchedule& schedule, const std::string& path, int32_t rate = 22050);
