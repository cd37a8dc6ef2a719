#include "render/show_frames.h"

#include <chrono>

#include "render/audio_blocks.h"
#include "scenes/scene_timeline.h"

namespace {

uint32_t virtualClockMs = 0;

uint32_t virtualClock() {
    return virtualClockMs;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

void renderShowFrames(const RenderSchedule& schedule, Pixel* backBuffer, FrameDone frameDone,
                      void* context, ComposeTimes* times) {
    SceneTimeline::useBackBuffer(backBuffer);
    SceneTimeline::useClock(virtualClock);
    restartAudio(schedule.audioBlockBytes);
    virtualClockMs = schedule.startMs;
    SceneTimeline::start();
    for (int64_t k = 0; k < schedule.frames; ++k) {
        while (nextAudioBlock(audioFramesBefore(schedule, k)) != nullptr) {
        }
        virtualClockMs = frameClockMs(schedule, k);
        if (times == nullptr) {
            SceneTimeline::composeFrame();
        } else {
            const auto start = std::chrono::steady_clock::now();
            SceneTimeline::composeFrame();
            const int scene = SceneTimeline::state.scene;
            times->milliseconds[scene] += millisecondsSince(start);
            ++times->frames[scene];
        }
        frameDone(context, k, virtualClockMs);
    }
}
