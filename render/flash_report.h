// Flashes as WCAG 2.3.1 counts them, frame by frame, and the report of them
// per second. A general flash is a pair of opposing changes in relative
// luminance of 0.1 or more where the darker state is below 0.8; a red flash,
// by WCAG 2.0's definition, is a pair of opposing changes of more than 20 in
// (R - G - B) x 320 (linear sRGB, negatives taken as 0) where the redder
// state is saturated red, R / (R + G + B) of 0.8 or more. Each pixel follows
// its own peaks and valleys. A change counts where it fills most of a
// 0.14-degree square (a fine, balanced pattern such as noise never does),
// and a frame holds a transition of a kind when such changes the same way
// cover at least a quarter of a 10-degree field somewhere on the frame; an
// area rising while another falls is one transition, not two. Three flashes
// in any one second are allowed, more are not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/demo_types.h"

// The viewing geometry: the frame shown 1024 pixels wide, where a 10-degree
// field is 341 x 256 screen pixels (the usual estimate for a 1024x768
// display 22 to 26 inches away), which is 213 x 160 pixels of the frame.
inline constexpr int kFlashFieldWidth = 213;
inline constexpr int kFlashFieldHeight = 160;
// A quarter of that field, 341 x 256 / 4 at 0.625 frame pixels per screen pixel.
inline constexpr int kFlashMinArea = 8525;

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

// Takes the next frame.
void analyseFlashFrame(const Pixel* frame);

// The seconds of the frames analysed so far.
std::vector<FlashSecond> flashSeconds();

// The report's text: a header, one line per second, a summary.
std::string formatFlashReport(const std::vector<FlashSecond>& seconds);
