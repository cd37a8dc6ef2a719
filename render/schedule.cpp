#include "render/schedule.h"

#include "synth/synthesiser.h"

int64_t frameCountFor(int64_t lengthMicros, int32_t fps) {
    return lengthMicros * fps / 1'000'000;
}

int64_t firstFrameAt(int64_t micros, int32_t fps) {
    return (micros * fps + 999'999) / 1'000'000;
}

uint32_t frameClockMs(const RenderSchedule& schedule, int64_t k) {
    const int64_t offset = k * 1000 / schedule.fps;
    return schedule.startMs + static_cast<uint32_t>(static_cast<uint64_t>(offset));
}

int64_t audioFramesBefore(const RenderSchedule& schedule, int64_t k) {
    return (k + 1) * kAudioRate / schedule.fps;
}

int64_t wavFrames(const RenderSchedule& schedule) {
    return schedule.frames * kAudioRate / schedule.fps;
}

int64_t wavFirstFrame(const RenderSchedule& schedule) {
    return schedule.firstFrame * kAudioRate / schedule.fps;
}
