// The display device for this platform.
#pragma once

#if defined(_WIN32)
#include "platform/win32/display.h"
#else
#include "platform/sdl/display.h"
#endif
