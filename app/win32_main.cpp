// The demo's entry on Windows: brings everything up in a fixed order, then
// composes, uploads and presents frames as fast as they come, for ever.
#include <windows.h>

#include <new>

#include "app/command_line.h"
#include "app/demo_sequence.h"
#include "pictures/picture_loader.h"
#include "platform/display_device.h"
#include "platform/win32/window.h"

// The runtime hands over the command line without the program's name and the
// blanks after it, and the show command of the start-up information.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    // A missing picture is reported in a box with no owner window.
    setMessageBoxHook(showOwnerlessMessageBox);

    displayMode = displayModeFor(commandLine);
    HWND window = createAppWindow(instance, showCommand, displayMode);

    auto* display = new (std::nothrow) DisplayDevice(window);
    if (display == nullptr) {
        failWithMessage("Not enough memory for the display device", "error");
    }
    runDemo(display);
}
