// The Win32 side of the application window: the start-up creates it with the
// instance handle and show command the entry receives. The rest of the
// window interface is platform/app_window.h.
#pragma once

#include <windows.h>

#include "core/demo_types.h"
#include "platform/app_window.h"

// Registers the class "QUELTRAVINE", creates the borderless window for the
// mode (windowed: 640x480, fullscreen: the screen's size), shows and updates
// it and hides the mouse cursor.
HWND createAppWindow(HINSTANCE instance, int showCommand, DisplayMode mode);
