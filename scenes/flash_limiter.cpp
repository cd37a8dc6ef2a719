#include "scenes/flash_limiter.h"

#include <cstring>
#include <vector>

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
    std::vector<Pixel> shown;   // the last frame shown
    std::vector<uint8_t> held;  // the pixels held in the frame being made
};

Limiter limiter;

}  // namespace

void startFlashLimiter(int64_t second) {
    startFlashTracker();
    limiter.second = second;
    limiter.general = {};
    limiter.red = {};
    limiter.shown.assign(kScreenPixels, 0);
    limiter.held.assign(kScreenPixels, 0);
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
        uint8_t* held = limiter.held.data();
        std::memset(held, 0, kScreenPixels);
        for (const bool red : {false, true}) {
            if (red ? overRed : overGeneral) {
                const uint8_t* changing = flashChangingPixels(red);
                for (int i = 0; i < kScreenPixels; ++i)
                    held[i] |= changing[i];
            }
        }
        holdFlashPixels(held);
        Pixel* out = limiter.shown.data();
        for (int i = 0; i < kScreenPixels; ++i)
            out[i] = held[i] != 0 ? out[i] : frame[i];
        made = advanceFlashTracker();
        result = out;
    }
    if (made.general)
        limiter.general.add(time);
    if (made.red)
        limiter.red.add(time);
    if (shown != nullptr)
        *shown = made;
    return result;
}
