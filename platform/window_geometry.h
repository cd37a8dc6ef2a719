// Where the windowed demo sits and how a drag moves it. Only the window
// procedure changes the record after start-up, all on the main thread.
#pragma once

#include <cstdint>

struct WindowGeometry {
    int32_t x = 0;  // top-left corner on the desktop, as last set by us
    int32_t y = 0;
    int32_t width = 0;  // size, as last set by us
    int32_t height = 0;
    int32_t anchorX = 0;  // client point held under the pointer; -1: none yet
    int32_t anchorY = 0;
    int32_t dragging = 0;  // 1 while the left button holds a drag
};

extern WindowGeometry windowGeometry;

// One arrow key press grows or shrinks the window by this much; it is also
// the smallest size, so a held key can never make the window vanish.
inline constexpr int32_t kResizeStep = 4;
// A press in the top 384 rows grabs the window; the rest is no handle.
inline constexpr int32_t kDragHandleRows = 384;

// Top-left at 0,0, 640x480, no anchor, no drag.
void startWindowGeometry();

// Arrow keys: adds the changes to the size, flooring each side at one step.
void resizeStep(int32_t widthChange, int32_t heightChange);

// Left press at client row pointerY. True when it arms a drag: the caller
// then captures the pointer.
bool pressStep(int32_t pointerY);

// Pointer moved to a client point (negative while captured outside). True
// when the window moved to windowGeometry.x, y; otherwise the point became
// the anchor.
bool dragStep(int32_t pointerX, int32_t pointerY);

// Left release: back to idle from any state. The anchor stays until the next move.
void releaseStep();
