// The command line picks the display mode; it is the demo's only setting.
#pragma once

#include <string>
#include <string_view>

#include "core/demo_types.h"

// The text after the program's name: the arguments joined by single spaces.
std::string commandLineTail(int argc, const char* const* argv);

// Windowed when the tail begins with "-w" (whatever follows), else fullscreen.
DisplayMode displayModeFor(std::string_view tail);
