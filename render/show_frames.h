// The renderer's frame loop, the same natively and in the page's render
// mode: the show's frames against the virtual clock, as fast as they go.
#pragma once

#include <cstdint>
#include <type_traits>

#include "core/demo_types.h"
#include "render/schedule.h"

// How long composing took, per scene (filled only when asked for).
struct ComposeTimes {
    double milliseconds[5] = {};
    int64_t frames[5] = {};
};

// Called after frame k is composed into the back buffer, with the clock's
// reading for it.
using FrameDone = void (*)(void* context, int64_t k, uint32_t clockMs);

// Restarts the synthesiser and the timeline, then composes frames 0 to
// schedule.frames - 1 into backBuffer: before each, the audio blocks that
// must exist by then are made and the clock set to the frame's time. Every
// frame is composed, also those before --from: each depends on the ones
// before it.
void renderShowFrames(const RenderSchedule& schedule, Pixel* backBuffer, FrameDone frameDone,
                      void* context, ComposeTimes* times = nullptr);

// The same with any callable taking (k, clockMs).
template <typename OnFrame>
void renderShowFrames(const RenderSchedule& schedule, Pixel* backBuffer, OnFrame&& onFrame,
                      ComposeTimes* times = nullptr) {
    renderShowFrames(
        schedule, backBuffer,
        [](void* context, int64_t k, uint32_t clockMs) {
            (*static_cast<std::remove_reference_t<OnFrame>*>(context))(k, clockMs);
        },
        &onFrame, times);
}
