// The display device over a 2D canvas: the back surface is an RGBA copy of
// the frame in the module's memory, which an ImageData made once views.
#pragma once

#include <cstdint>

#include "core/demo_types.h"

class DisplayDevice {
  public:
    explicit DisplayDevice(void* window);

    // The canvas is sized 640x480 once; the page scales it with CSS, so
    // both modes are the same here. Always true.
    bool init(DisplayMode displayMode, uint8_t waitForFlipByte);

    // Copies the frame at frameSource into the back surface in the canvas's
    // channel order (R, G, B, A), alpha opaque.
    void uploadFrame();
    // Puts the back surface on the canvas.
    void present();
    Pixel* lock();
    void unlock();

    void* window;
    DisplayMode mode = DisplayMode::fullscreen;
    uint8_t waitForFlip = 0;
    const Pixel* frameSource = nullptr;
    int32_t pitchPixels = kScreenWidth;
};
