// The demo's entry: brings everything up in a fixed order, then composes,
// uploads and presents frames as fast as they come, for ever.
#include <new>

#include "app/command_line.h"
#include "app/demo_sequence.h"
#include "pictures/picture_loader.h"
#include "platform/app_window.h"
#include "platform/display_device.h"

int main(int argc, char** argv) {
    // A missing picture is reported in a box with no owner window.
    setMessageBoxHook(showOwnerlessMessageBox);

    displayMode = displayModeFor(commandLineTail(argc, argv));
    auto* window = static_cast<SDL_Window*>(createAppWindow(displayMode));

    auto* display = new (std::nothrow) DisplayDevice(window);
    if (display == nullptr) {
        failWithMessage("Not enough memory for the display device", "error");
    }
    runDemo(display);
}
