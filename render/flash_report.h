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
    // With the flashing reduced, how close what was shown is to what was
    // composed: the share of the second's pixels shown otherwise, and the
    // PSNR (dB, over R, G and B; infinite when equal) of the two after each
    // is averaged over 1/6 s, in stretches from the first frame on.
    double changedShare = 0.0;
    double psnr = 0.0;
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

// With the flashing reduced: the frame just recorded as composed and as
// shown (the same pointer when nothing was held). The report then gives each
// second's closeness too. The first call allocates what it needs.
void recordShownFrame(const Pixel* composed, const Pixel* shown);

// The seconds of the frames analysed so far.
std::vector<FlashSecond> flashSeconds();

// The report's text: a header, one line per second, a summary; with
// closenessToo, each second's closeness as well.
std::string formatFlashReport(const std::vector<FlashSecond>& seconds, bool closenessToo = false);
