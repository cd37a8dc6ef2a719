// The renderer's fixed schedule, which makes a render reproducible bit for
// bit: a virtual clock that steps by whole milliseconds per frame, and audio
// produced in fixed blocks ahead of the frame that follows it.
#pragma once

#include <cstdint>

#include "synth/synthesiser.h"

struct RenderSchedule {
    int32_t fps = 60;        // frames per second, 1 to 1000
    int64_t frames = 0;      // floor(seconds x fps)
    int64_t firstFrame = 0;  // the first frame written (--from); all are composed
    uint32_t startMs = 0;    // T0: what the clock reads at the start
    int32_t audioBlockBytes = kSynthBlockBytes;  // bytes asked of the synthesiser per block
};

// floor(seconds x fps) for a length given in microseconds.
int64_t frameCountFor(int64_t lengthMicros, int32_t fps);

// The first frame shown at or after a time given in microseconds:
// ceil(seconds x fps).
int64_t firstFrameAt(int64_t micros, int32_t fps);

// The clock reading of frame k: T0 + floor(k x 1000 / fps), wrapping at 2^32
// like the system's millisecond counter.
uint32_t frameClockMs(const RenderSchedule& schedule, int64_t k);

// Stereo frames of audio that must exist before frame k is composed:
// floor((k + 1) x 22050 / fps).
int64_t audioFramesBefore(const RenderSchedule& schedule, int64_t k);

// Stereo frames of the whole render's audio: floor(frames x 22050 / fps).
int64_t wavFrames(const RenderSchedule& schedule);

// The first stereo frame the WAV holds, the one heard with the first frame
// written: floor(firstFrame x 22050 / fps).
int64_t wavFirstFrame(const RenderSchedule& schedule);
