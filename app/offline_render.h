// The offline renderer's fixed schedule and its file formats. The schedule is
// what makes a render reproducible bit for bit: a virtual clock that steps by
// whole milliseconds per frame and audio produced in fixed blocks ahead of
// the frame that follows it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/demo_types.h"

struct RenderSchedule {
    int32_t fps = 60;                  // frames per second, 1 to 1000
    int64_t frames = 0;                // floor(seconds x fps)
    uint32_t startMs = 0;              // T0: what the clock reads at the start
    int32_t audioBlockBytes = 40'000;  // bytes asked of the synthesiser per block
};

// floor(seconds x fps) for a length given in microseconds.
int64_t frameCountFor(int64_t lengthMicros, int32_t fps);

// The clock reading of frame k: T0 + floor(k x 1000 / fps), wrapping at 2^32
// like the system's millisecond counter.
uint32_t frameClockMs(const RenderSchedule& schedule, int64_t k);

// Stereo frames of audio that must exist before frame k is composed:
// floor((k + 1) x 22050 / fps).
int64_t audioFramesBefore(const RenderSchedule& schedule, int64_t k);

// Stereo frames in the WAV: the audio of the whole video, floor(frames x 22050 / fps).
int64_t wavFrames(const RenderSchedule& schedule);

// Parses a non-negative decimal number of seconds ("110", "2.5", "0.016667")
// into microseconds; more than six decimals, signs, exponents and values over
// 10^7 seconds are refused.
bool parseSeconds(const char* text, int64_t* micros);

// Parses a whole decimal number within [low, high]; nothing else may follow it.
bool parseInteger(const char* text, int64_t low, int64_t high, int64_t* value);

// The 44-byte header of a 22050 Hz 16-bit stereo PCM WAV file holding
// `frames` stereo frames. Returns false when the data would not fit in the
// format's 32-bit sizes.
bool makeWavHeader(int64_t frames, uint8_t header[44]);

// Writes one frame as an 8-bit RGB PNG, the top byte of each pixel dropped as
// the display does. On failure returns false and sets error.
bool writeFramePng(const std::string& path, const Pixel* frame, std::string* error);

// The name of frame k in a frames folder: frame-NNNNNN.png.
std::string frameFileName(int64_t k);

// Nearest-neighbour upscale of a 640x480 frame by a whole factor into
// `scaled`, which holds (640 x scale) x (480 x scale) pixels.
void scaleFrame(const Pixel* frame, int scale, Pixel* scaled);
