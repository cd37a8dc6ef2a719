// The display device: the back surface each frame is uploaded into, and the
// way it reaches the screen. One class for every platform; each backend
// (platform/sdl, platform/win32, platform/web) defines its members in its
// display.cpp and keeps its own objects in a DisplaySurfaces of its own.
#pragma once

#include <cstdint>

#include "core/demo_types.h"
#include "platform/window_proc.h"

// The backend's surfaces and interfaces, defined in its display.cpp.
struct DisplaySurfaces;

class DisplayDevice {
  public:
    explicit DisplayDevice(WindowHandle appWindow);

    // Brings the device up for the mode. Fullscreen presents wait for the
    // display's refresh, windowed ones do not. A nonzero waitForFlipByte
    // adds DDFLIP_WAIT to a Windows flip and paces a Linux window too. Every
    // failure ends the process.
    void init(DisplayMode displayMode, uint8_t waitForFlipByte);

    // Copies the 640x480 frame at frameSource into the back surface
    // (platform/display_device.cpp: the same on every backend).
    void uploadFrame();
    // Puts the back surface on screen.
    void present();
    // The back surface's first pixel (rows pitchPixels apart), or null.
    Pixel* lock();
    void unlock();
    // Returns at once for 0. Any other result is shown by the backend's
    // reason for it, as text and caption of a message box owned by the window
    // and on standard error, then the process ends with exit status 1.
    void reportError(int32_t result);

    WindowHandle window;
    DisplayMode mode = DisplayMode::fullscreen;
    uint8_t waitForFlip = 0;
    const Pixel* frameSource = nullptr;
    int32_t pitchPixels = kScreenWidth;
    DisplaySurfaces* surfaces = nullptr;
};

// Supplied by each backend: the text shown for a failed call's result.
const char* displayErrorReason(int32_t result);
