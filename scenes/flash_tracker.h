// Flashes as WCAG 2.3.1 counts them, frame by frame. A general flash is a
// pair of opposing changes in relative luminance of 0.1 or more where the
// darker state is below 0.8; a red flash, by WCAG 2.0's definition, is a pair
// of opposing changes of more than 20 in (R - G - B) x 320 (linear sRGB,
// negatives taken as 0) where the redder state is saturated red,
// R / (R + G + B) of 0.8 or more. Each pixel follows its own peaks and
// valleys. A change counts where it fills most of a 0.14-degree square (a
// fine, balanced pattern such as noise never does), and a frame holds a
// transition of a kind when such changes the same way cover at least a
// quarter of a 10-degree field somewhere on the frame; an area rising while
// another falls is one transition, not two.
//
// One tracker follows one stream of frames; the report and the flash limiter
// share it, so that what the limiter lets through is what the report counts.
#pragma once

#include <cstdint>

#include "core/demo_types.h"

// The viewing geometry: the frame shown 1024 pixels wide, where a 10-degree
// field is 341 x 256 screen pixels (the usual estimate for a 1024x768
// display 22 to 26 inches away), which is 213 x 160 pixels of the frame.
inline constexpr int kFlashFieldWidth = 213;
inline constexpr int kFlashFieldHeight = 160;
// A quarter of that field, 341 x 256 / 4 at 0.625 frame pixels per screen pixel.
inline constexpr int kFlashMinArea = 8525;
// Three flashes in any one second are allowed, more are not.
inline constexpr int kFlashTransitionsAllowed = 6;

struct FlashTransitions {
    bool general = false;
    bool red = false;
};

// Starts following a new stream; allocates all it needs.
void startFlashTracker();

// Takes the next frame as it is: classifies it and advances, in one pass.
FlashTransitions trackFlashFrame(const Pixel* frame);

// Measures the next frame and finds the transitions it would hold, without
// moving any pixel's course yet. The first frame of a stream holds none.
FlashTransitions classifyFlashFrame(const Pixel* frame);

// The frame just classified is to be shown with every pixel that makes a
// transition of a kind given (either way, whether or not its area is large
// enough to count) keeping the previous frame's values. Gives those pixels
// (1 each), valid until the next frame is classified. A pixel seen again at
// its last value makes no transition.
const uint8_t* holdFlashChanges(bool general, bool red);

// Moves every pixel's course on to the frame just classified (with its held
// pixels), and gives the transitions that frame holds as it is shown; the
// next frame is then classified against it.
FlashTransitions advanceFlashTracker();
