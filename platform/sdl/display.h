// The display device over SDL: a streaming texture is the back surface that
// every frame is uploaded into; the renderer puts it on the window.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "core/demo_types.h"

class DisplayDevice {
  public:
    explicit DisplayDevice(SDL_Window* window);

    // Windowed: a renderer on the window and a 640x480 back surface, on a
    // desktop of 4-byte pixels. Fullscreen: the window switched to exclusive
    // fullscreen at 640x480 where the display allows it; elsewhere the frame
    // is scaled to fill the screen with its 4:3 aspect kept. A nonzero
    // waitForFlip waits for the vertical blank at every present. Always true:
    // every failure ends the process.
    bool init(DisplayMode displayMode, uint8_t waitForFlipByte);

    // Copies the 640x480 frame at frameSource into the back surface.
    void uploadFrame();
    // Puts the back surface on screen: stretched over the window, or
    // letterboxed in fullscreen.
    void present();
    // The back surface's first pixel; rows are pitchPixels apart.
    Pixel* lock();
    void unlock();
    // Returns at once for 0. Any other result shows SDL's reason in a message
    // box owned by the window and on standard error, then ends the process
    // with exit status 1.
    void reportError(int result);

    SDL_Window* window;
    DisplayMode mode = DisplayMode::fullscreen;
    uint8_t waitForFlip = 0;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* backSurface = nullptr;
    const Pixel* frameSource = nullptr;
    int32_t pitchPixels = 0;
};
