#include "platform/window_geometry.h"

#include <algorithm>

#include "core/demo_types.h"

WindowGeometry windowGeometry;

void startWindowGeometry() {
    windowGeometry = {0, 0, kScreenWidth, kScreenHeight, -1, -1, 0};
}

void resizeStep(int32_t widthChange, int32_t heightChange) {
    windowGeometry.width = std::max(windowGeometry.width + widthChange, kResizeStep);
    windowGeometry.height = std::max(windowGeometry.height + heightChange, kResizeStep);
}

bool pressStep(int32_t pointerY) {
    if (pointerY < 0 || pointerY >= kDragHandleRows) {
        return false;
    }
    windowGeometry.anchorX = -1;
    windowGeometry.anchorY = -1;
    windowGeometry.dragging = 1;
    return true;
}

bool dragStep(int32_t pointerX, int32_t pointerY) {
    WindowGeometry& g = windowGeometry;
    if (g.dragging != 0 && g.anchorX != -1) {
        // After the move the pointer is over the anchor again, so the anchor stays.
        g.x += pointerX - g.anchorX;
        g.y += pointerY - g.anchorY;
        return true;
    }
    g.anchorX = pointerX;
    g.anchorY = pointerY;
    return false;
}

void releaseStep() {
    windowGeometry.dragging = 0;
}
