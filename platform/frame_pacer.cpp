#include "platform/frame_pacer.h"

#include <chrono>
#include <thread>

int32_t refreshRateOrDefault(int32_t hertz) {
    return hertz > 0 ? hertz : 60;
}

FramePacer framePacerFor(int32_t refreshHertz) {
    FramePacer pacer;
    pacer.period = 1'000'000'000 / refreshRateOrDefault(refreshHertz);
    return pacer;
}

void paceBeforePresent(FramePacer& pacer, const PacerClock& clock) {
    if (pacer.displayPaces) {
        return;
    }
    const int64_t now = clock.now();
    if (now < pacer.deadline) {
        clock.sleepFor(pacer.deadline - now);
        // Steps from the deadline, not from the wake-up: an oversleep is
        // made up by the next frame, so the average stays one period.
        pacer.deadline += pacer.period;
    } else if (now - pacer.deadline >= pacer.period) {
        // A stall (a busy machine): this frame goes now and the next a whole
        // period later, with no burst to catch up.
        pacer.deadline = now + pacer.period;
    } else {
        pacer.deadline += pacer.period;
    }
}

void notePresented(FramePacer& pacer, const PacerClock& clock) {
    const int64_t now = clock.now();
    if (pacer.presents < kPresentsBeforeJudging) {
        ++pacer.presents;
    } else if (pacer.displayPaces && now - pacer.presentEnded < pacer.period - pacer.period / 8) {
        // A frame slower than the period is no sign either way.
        pacer.displayPaces = false;
        pacer.deadline = now + pacer.period;
    }
    pacer.presentEnded = now;
}

namespace {

int64_t steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleepNanos(int64_t nanos) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(nanos));
}

const PacerClock steadyClock{steadyNow, sleepNanos};

}  // namespace

const PacerClock& steadyPacerClock() {
    return steadyClock;
}
