// The demo's entry in a browser. The page fetches the six pictures into the
// module's file system, then calls webStartDemo after the click or key a
// browser wants before sound (or webRender, the render mode, in render/).
// The start-up order is the demo's own; the frame loop is the browser's
// animation frames, one composed frame per display refresh.
#include <emscripten.h>

#include "app/command_line.h"
#include "app/demo_sequence.h"
#include "pictures/picture_loader.h"
#include "platform/app_window.h"
#include "platform/display_device.h"
#include "synth/synthesiser.h"

namespace {

DisplayDevice* display = nullptr;

void animationFrame() {
    runFrame(display);
}

}  // namespace

extern "C" {

// reduceFlashes nonzero: the show with at most three flashes a second.
EMSCRIPTEN_KEEPALIVE void webStartDemo(int reduceFlashes) {
    setMessageBoxHook(showOwnerlessMessageBox);
    if (reduceFlashes != 0)
        askForReducedFlashes();
    displayMode = DisplayMode::windowed;
    WindowHandle window = createAppWindow(displayMode);
    static DisplayDevice device(window);
    display = &device;
    startDemo(display);
    emscripten_set_main_loop(animationFrame, 0, 0);
}

// A key from the page, as a Windows virtual-key code (Escape is 27).
EMSCRIPTEN_KEEPALIVE void webKey(int key) {
    if (display != nullptr)
        windowProc(display->window, WindowMessage::keyDown, static_cast<uintptr_t>(key), 0);
}

// The residues the worklet posted after its latest block.
EMSCRIPTEN_KEEPALIVE void webSetResidues(int32_t a, int32_t b) {
    takeResidues(a, b);
}
}
