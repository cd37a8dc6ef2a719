// The demo's entry: brings everything up in a fixed order, then composes,
// uploads and presents frames as fast as the display takes them, for ever.
#include "app/command_line.h"
#include "app/demo_sequence.h"
#include "pictures/picture_loader.h"
#include "platform/app_window.h"

int main(int argc, char** argv) {
    // A missing picture is reported in a box with no owner window.
    setMessageBoxHook(showOwnerlessMessageBox);

    displayMode = displayModeFor(commandLineTail(argc, argv));
    runDemo(createAppWindow(displayMode));
}
