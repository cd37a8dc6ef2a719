#include "app/command_line.h"

std::string commandLineTail(int argc, const char* const* argv) {
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            tail += ' ';
        }
        tail += argv[i];
    }
    return tail;
}

DisplayMode displayModeFor(std::string_view tail) {
    // Kept: "-w" is a prefix, so "-wide" is windowed too (docs/quirks.md).
    return tail.starts_with("-w") ? DisplayMode::windowed : DisplayMode::fullscreen;
}
