// The flashes of a render, per second (WCAG 2.3.1, as scenes/flash_tracker
// counts them): a second passes when no one-second stretch of frames ending
// in it holds more than three flashes of either kind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/demo_types.h"
#include "scenes/flash_tracker.h"

struct FlashSecond {
    int64_t second;          // of the render's own time: frame index / fps
    int generalTransitions;  // two make a flash
    int redTransitions;
    // No one-second stretch of frames ending in this second holds more than
    // six transitions (three flashes) of either kind.
    bool passes;
};

// Starts counting; the frames that follow are frames 0, 1 ... of a render of
// `frames` at fps frames a second, of which the report covers the seconds from
// the one holding firstFrame on. Allocates all it needs.
void startFlashAnalysis(int32_t fps, int64_t firstFrame, int64_t frames);

// Takes the next frame, following it with the flash tracker.
void analyseFlashFrame(const Pixel* frame);

// Takes the next frame's transitions as the flash limiter found them (the
// limiter then owns the tracker).
void recordFlashFrame(const FlashTransitions& transitions);

// The seconds of the frames analysed so far.
std::vector<FlashSecond> flashSeconds();

// The report's text: a header, one line per second, a summary.
std::string formatFlashReport(const std::vector<FlashSecond>& seconds);
