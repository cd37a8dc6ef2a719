// The start-up that follows the window and the display device, and the frame
// loop: the same on every platform. Each entry creates the window and the
// device its own way, then hands over here.
#pragma once

#include "platform/display_device.h"

// Asks startDemo for the show with its flashing reduced (at most three
// flashes a second); QUELTRAVINE_REDUCE_FLASHES in the environment asks too.
void askForReducedFlashes();

// Initialises the device for displayMode, allocates and loads everything,
// starts the music and the timeline.
void startDemo(DisplayDevice* display);

// One turn of the frame loop: compose, upload, present, drain the messages.
void runFrame(DisplayDevice* display);

// Makes the display device for the window, then startDemo and runFrame as
// fast as frames come, for ever. (A browser calls runFrame once per display
// refresh instead.)
[[noreturn]] void runDemo(WindowHandle window);
