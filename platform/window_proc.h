// The demo's whole user interface: the window procedure. The platform layer
// turns its events into these messages and supplies the few window actions.
#pragma once

#include <cstdint>

#include "core/demo_types.h"

using WindowHandle = void*;

// Message numbers and key codes, valued as the Windows window system has them
// so that a Windows backend passes its own through unchanged.
namespace WindowMessage {
inline constexpr uint32_t destroy = 0x0002;
inline constexpr uint32_t keyDown = 0x0100;
inline constexpr uint32_t mouseMove = 0x0200;
inline constexpr uint32_t leftButtonDown = 0x0201;
inline constexpr uint32_t leftButtonUp = 0x0202;
}  // namespace WindowMessage

namespace VirtualKey {
inline constexpr uintptr_t escape = 27;
inline constexpr uintptr_t left = 37;
inline constexpr uintptr_t up = 38;
inline constexpr uintptr_t right = 39;
inline constexpr uintptr_t down = 40;
inline constexpr uintptr_t other = 0;  // any key the demo ignores
}  // namespace VirtualKey

// A client-area pointer position as mouse messages carry it: x in the low
// 16-bit word, y in the high one, each read back as a signed value.
inline intptr_t pointerParam(int32_t x, int32_t y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(y) & 0xFFFFu) << 16 |
                                 (static_cast<uint32_t>(x) & 0xFFFFu));
}
inline int32_t pointerX(intptr_t lParam) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uintptr_t>(lParam) & 0xFFFFu));
}
inline int32_t pointerY(intptr_t lParam) {
    return static_cast<int16_t>(
        static_cast<uint16_t>((static_cast<uintptr_t>(lParam) >> 16) & 0xFFFFu));
}

// What the window procedure asks of the platform.
struct WindowActions {
    // The quit path (quitDemo): stops the audio and ends the process with 0.
    void (*quit)();
    // Sizes the window to width x height, moves its top-left corner to x, y
    // when move is set, and puts it on top of other windows.
    void (*place)(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height,
                  bool move);
    // Keeps pointer messages coming while the pointer is outside the window.
    void (*capture)(WindowHandle window);
    void (*releaseCapture)(WindowHandle window);
    // The platform's handling of every message the demo leaves alone.
    intptr_t (*defaultProc)(WindowHandle window, uint32_t message, uintptr_t wParam,
                            intptr_t lParam);
};

extern WindowActions windowActions;

// Set once from the command line before the window exists.
extern DisplayMode displayMode;

// Handles one message; returns 0 for every message it handles and the
// default handling's result for the others.
intptr_t windowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
