// The display device over DirectDraw 7: a 640x480x32 flip chain that owns the
// screen, or, in a window, an off-screen surface blitted (stretched and
// clipped) onto the window's rectangle.
#pragma once

#include <windows.h>

#include <ddraw.h>

#include <cstdint>

#include "core/demo_types.h"

class DisplayDevice {
  public:
    explicit DisplayDevice(HWND appWindow);

    // Creates the DirectDraw objects for the mode. Always true: every failure
    // is shown in a message box and ends the process with exit status 1.
    bool init(DisplayMode displayMode, uint8_t waitForFlipByte);

    // Copies the 640x480 frame at frameSource into the back surface.
    void uploadFrame();
    // Fullscreen: flips the chain. Windowed: stretches the back surface over
    // the window. A lost primary surface is restored and the frame dropped.
    void present();
    // The back surface's first pixel (rows pitchPixels apart), or null.
    Pixel* lock();
    void unlock();
    // Returns at once for 0. Any other code is shown by its DirectDraw name
    // as text and caption of a message box owned by the window, then the
    // process ends with exit status 1.
    void reportError(HRESULT result);

    HWND window;
    DisplayMode mode = DisplayMode::fullscreen;
    uint8_t waitForFlip = 0;
    RECT screenRect{};
    IDirectDraw7* directDraw = nullptr;
    IDirectDrawSurface7* frontSurface = nullptr;
    DDSURFACEDESC2 frontDesc{};
    IDirectDrawSurface7* backSurface = nullptr;
    DDSURFACEDESC2 backDesc{};
    const Pixel* frameSource = nullptr;
    int32_t pitchPixels = 0;

  private:
    // Results a call may return without ending the demo: 0 and DDERR_SURFACEBUSY.
    void tolerate(HRESULT result);
    // A creation call: tolerant, except that "busy" with no object made is a
    // failure, so no null interface is ever used.
    void created(HRESULT result, const void* object);
};
