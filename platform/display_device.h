// The display device for this platform.
#pragma once

#if defined(_WIN32)
#include "platform/win32/display.h"
#elif defined(__EMSCRIPTEN__)
#include "platform/web/display.h"
#else
#include "platform/sdl/display.h"
#endif
