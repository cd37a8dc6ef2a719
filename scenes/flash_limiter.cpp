#include "scenes/flash_limiter.h"

#include <cstring>
#include <vector>

#include "scenes/frame_workers.h"

namespace {

// The times of the last transitions of one kind, newest last: only the
// budget's worth matter, since an older one is outside the second whenever
// these are.
struct RecentTransitions {
    int64_t times[kFlashTransitionsAllowed] = {};
    int32_t count = 0;

    // How many of them lie in the second ending at `time` (after `time` -
    // second).
    int32_t within(int64_t time, int64_t second) const {
        int32_t n = 0;
        for (int32_t i = 0; i < count; ++i)
            n += times[i] > time - second ? 1 : 0;
        return n;
    }

    void add(int64_t time) {
        if (count == kFlashTransitionsAllowed) {
            for (int32_t i = 1; i < count; ++i)
                times[i - 1] = times[i];
            --count;
        }
        times[count++] = time;
    }
};

struct Limiter {
    int64_t second = 60;
    RecentTransitions general;
    RecentTransitions red;
    std::vector<Pixel> shown;       // the last frame shown
    const Pixel* frame = nullptr;   // the frame being limited
    const uint8_t* held = nullptr;  // its pixels held
};

Limiter limiter;

// The frame to show: the held pixels as last shown, the others as composed.
void composeShownPart(void*, int part, int parts) {
    const int begin = partFirstRow(part, parts) * kScreenWidth;
    const int end = partFirstRow(part + 1, parts) * kScreenWidth;
    Pixel* out = limiter.shown.data();
    for (int i = begin; i < end; ++i) {
        const Pixel composed = limiter.frame[i];
        out[i] = limiter.held[i] != 0 ? out[i] : composed;
    }
}

}  // namespace

void startFlashLimiter(int64_t second) {
    startFlashTracker();
    limiter.second = second;
    limiter.general = {};
    limiter.red = {};
    limiter.shown.assign(kScreenPixels, 0);
}

const Pixel* limitFlashes(const Pixel* frame, int64_t time, FlashTransitions* shown) {
    const FlashTransitions found = classifyFlashFrame(frame);
    const bool overGeneral = found.general && limiter.general.within(time, limiter.second) + 1 >
                                                  kFlashTransitionsAllowed;
    const bool overRed =
        found.red && limiter.red.within(time, limiter.second) + 1 > kFlashTransitionsAllowed;
    const Pixel* result = frame;
    FlashTransitions made = found;
    if (!overGeneral && !overRed) {
        advanceFlashTracker();
        std::memcpy(limiter.shown.data(), frame, VirtualBackBuffer::bytes);
    } else {
        // Every pixel changing the way that would go over is held, the small
        // areas too: what is left of the change cannot count.
        limiter.frame = frame;
        limiter.held = holdFlashChanges(overGeneral, overRed);
        runFrameParts(composeShownPart, nullptr);
        made = advanceFlashTracker();
        result = limiter.shown.data();
    }
    if (made.general)
        limiter.general.add(time);
    if (made.red)
        limiter.red.add(time);
    if (shown != nullptr)
        *shown = made;
    return result;
}
