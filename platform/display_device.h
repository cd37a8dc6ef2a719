// The display device for this platform.
#pragma once

#if defined(_WIN32)
#include "platform/win32_display.h"
#else
#include "platform/sdl_display.h"
#endif
