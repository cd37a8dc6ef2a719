#include "platform/window_proc.h"

#include "platform/window_geometry.h"

WindowActions windowActions;
DisplayMode displayMode = DisplayMode::fullscreen;

namespace {

void resizeAndRaise(WindowHandle window, int32_t widthChange, int32_t heightChange) {
    resizeStep(widthChange, heightChange);
    windowActions.place(window, 0, 0, windowGeometry.width, windowGeometry.height, false);
}

void keyDown(WindowHandle window, uintptr_t key) {
    if (key == VirtualKey::escape) {
        windowActions.quit();
        return;
    }
    if (displayMode != DisplayMode::windowed) {
        return;
    }
    switch (key) {
        case VirtualKey::left:
            resizeAndRaise(window, -kResizeStep, 0);
            break;
        case VirtualKey::up:
            resizeAndRaise(window, 0, -kResizeStep);
            break;
        case VirtualKey::right:
            resizeAndRaise(window, kResizeStep, 0);
            break;
        case VirtualKey::down:
            resizeAndRaise(window, 0, kResizeStep);
            break;
        default:
            break;  // swallowed: no default handling for keys
    }
}

}  // namespace

intptr_t windowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    const bool windowed = displayMode == DisplayMode::windowed;
    switch (message) {
        case WindowMessage::destroy:
            windowActions.quit();
            return 0;
        case WindowMessage::keyDown:
            keyDown(window, wParam);
            return 0;
        case WindowMessage::mouseMove:
            if (windowed && dragStep(pointerX(lParam), pointerY(lParam))) {
                const WindowGeometry& g = windowGeometry;
                windowActions.place(window, g.x, g.y, g.width, g.height, true);
            }
            return 0;
        case WindowMessage::leftButtonDown:
            if (windowed && pressStep(pointerY(lParam))) {
                windowActions.capture(window);
            }
            return 0;
        case WindowMessage::leftButtonUp:
            if (windowed) {
                releaseStep();
                windowActions.releaseCapture(window);
            }
            return 0;
        default:
            return windowActions.defaultProc(window, message, wParam, lParam);
    }
}
