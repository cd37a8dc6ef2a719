// The demo's entry on Windows: brings everything up in a fixed order, then
// composes, uploads and presents frames as fast as they come, for ever.
#include <windows.h>

#include "app/command_line.h"
#include "app/demo_sequence.h"
#include "pictures/picture_loader.h"
#include "platform/win32/window.h"

// The runtime hands over the command line without the program's name and the
// blanks after it, and the show command of the start-up information.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    // A missing picture is reported in a box with no owner window.
    setMessageBoxHook(showOwnerlessMessageBox);

    displayMode = displayModeFor(commandLine);
    runDemo(createAppWindow(instance, showCommand, displayMode));
}
