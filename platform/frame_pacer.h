// Paces a frame loop at the display's refresh where presenting does not wait
// for it: one present per refresh period on average, as a flip chain gave.
// Where the present does wait (a real vertical blank), the pacer never
// sleeps; after a stall it starts again from that frame instead of sending a
// burst of frames to catch up. The clock and the sleep are handed in, so the
// pacer runs the same without a window.
#pragma once

#include <cstdint>

struct PacerClock {
    int64_t (*now)();                 // nanoseconds of a steady clock
    void (*sleepFor)(int64_t nanos);  // may sleep longer, never shorter
};

struct FramePacer {
    int64_t period = 0;        // nanoseconds between presents
    int64_t deadline = 0;      // when the next present is due, while we pace
    int64_t presentEnded = 0;  // when the last present returned
    int32_t presents = 0;      // counted up to kPresentsBeforeJudging
    bool displayPaces = true;  // the presents themselves wait for the refresh
};

// The first presents of a window may return at once even where the display
// paces (its buffers are still free): they are not judged.
inline constexpr int32_t kPresentsBeforeJudging = 3;

// The refresh rate SDL and the others report, or 60 Hz where they report
// none (0, as virtual displays do).
int32_t refreshRateOrDefault(int32_t hertz);

FramePacer framePacerFor(int32_t refreshHertz);

// Straight before each present: sleeps until it is due, unless the display
// paces the presents itself.
void paceBeforePresent(FramePacer& pacer, const PacerClock& clock);
// Straight after each present: learns from it whether the display paces.
// Presents closer than the period (less a margin for the scheduler) are not
// waiting for the display, and from then on we pace them for good: a slow
// renderer's present can take half a period without waiting for anything,
// so a long present is no sign that the display has begun to pace.
void notePresented(FramePacer& pacer, const PacerClock& clock);

// std::chrono's steady clock and this thread's sleep.
const PacerClock& steadyPacerClock();
