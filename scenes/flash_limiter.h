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

// Starts limiting a new stream of frames at fps frames a second (restarts
// the flash tracker); allocates all it needs.
void startFlashLimiter(int32_t fps);

// The frame to show for `frame`: `frame` itself when it is within the
// budget, otherwise the limiter's own copy with pixels held (valid until the
// next call). `shown` gets the transitions the shown frame holds.
const Pixel* limitFlashes(const Pixel* frame, FlashTransitions* shown);
