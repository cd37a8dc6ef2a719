#include "scenes/flash_limiter.h"

#include <cstring>
#include <vector>

namespace {

struct Limiter {
    int32_t fps = 60;
    // The transitions of the last fps - 1 frames shown, oldest first in a
    // ring, and their sums: with the next frame's, one second's worth.
    std::vector<FlashTransitions> recent;
    int32_t next = 0;
    int32_t general = 0;
    int32_t red = 0;
    std::vector<Pixel> shown;   // the last frame shown
    std::vector<uint8_t> held;  // the pixels held in the frame being made
};

Limiter limiter;

void remember(const FlashTransitions& transitions) {
    if (limiter.recent.empty())
        return;  // at 1 fps the second is the frame itself
    FlashTransitions& slot = limiter.recent[static_cast<size_t>(limiter.next)];
    limiter.general += static_cast<int32_t>(transitions.general) - slot.general;
    limiter.red += static_cast<int32_t>(transitions.red) - slot.red;
    slot = transitions;
    limiter.next = (limiter.next + 1) % static_cast<int32_t>(limiter.recent.size());
}

}  // namespace

void startFlashLimiter(int32_t fps) {
    startFlashTracker();
    limiter.fps = fps;
    limiter.recent.assign(static_cast<size_t>(fps - 1), FlashTransitions{});
    limiter.next = 0;
    limiter.general = 0;
    limiter.red = 0;
    limiter.shown.assign(kScreenPixels, 0);
    limiter.held.assign(kScreenPixels, 0);
}

const Pixel* limitFlashes(const Pixel* frame, FlashTransitions* shown) {
    const FlashTransitions found = classifyFlashFrame(frame);
    const bool overGeneral = found.general && limiter.general + 1 > kFlashTransitionsAllowed;
    const bool overRed = found.red && limiter.red + 1 > kFlashTransitionsAllowed;
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
    remember(made);
    if (shown != nullptr)
        *shown = made;
    return result;
}
