// The start-up that follows the window and the display device, and the frame
// loop: the same on every platform. Each entry creates the window and the
// device its own way, then hands over here.
#pragma once

#include "platform/display_device.h"

// Initialises the device for displayMode, allocates and loads everything,
// starts the music and the timeline, then composes, uploads and presents
// frames as fast as they come, for ever.
[[noreturn]] void runDemo(DisplayDevice* display);
