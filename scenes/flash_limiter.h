// The show with its flashing reduced: at most three flashes of each kind
// (WCAG 2.3.1) in any one second, as the flash tracker counts them. A frame
// that would hold a transition beyond that budget is shown with the pixels
// making it keeping their last shown values; every other pixel, and every
// frame within the budget, is shown exactly as composed. Holding a pixel
// makes no change, so it adds no transition, and the result passes the
// tracker's count by construction. The composed frames themselves, which the
// show reads back, are never touched.
#pragma once

#include <cstdint>

#include "core/demo_types.h"
#include "scenes/flash_tracker.h"

// Starts limiting a new stream of frames (restarts the flash tracker);
// allocates all it needs. A second is `second` units of the times handed to
// limitFlashes: frames at a fixed rate count in frames (the renderer, whose
// report counts a second as that many frames), a live show in milliseconds.
void startFlashLimiter(int64_t second);

// The frame to show for `frame`, shown at `time` (never earlier than the
// last): `frame` itself when it is within the budget, otherwise the
// limiter's own copy with pixels held (valid until the next call). `shown`
// gets the transitions the shown frame holds.
const Pixel* limitFlashes(const Pixel* frame, int64_t time, FlashTransitions* shown);
