// The display device over SDL2's renderer: a streaming texture is the back
// surface. There is no flip chain; where the display has no 640x480 mode the
// frame is scaled and letterboxed instead of changing the mode.
#include <SDL.h>

#include "platform/app_window.h"
#include "platform/display_device.h"

struct DisplaySurfaces {
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* backSurface = nullptr;
};

namespace {

DisplaySurfaces sdlSurfaces;

}  // namespace

DisplayDevice::DisplayDevice(WindowHandle appWindow) : window(appWindow), surfaces(&sdlSurfaces) {}

const char* displayErrorReason(int32_t) {
    const char* reason = SDL_GetError();
    return reason == nullptr || reason[0] == '\0' ? "Unknown error" : reason;
}

void DisplayDevice::init(DisplayMode displayMode, uint8_t waitForFlipByte) {
    mode = displayMode;
    waitForFlip = waitForFlipByte;
    auto* sdlWindow = static_cast<SDL_Window*>(window);
    SDL_Renderer*& renderer = surfaces->renderer;
    SDL_Texture*& backSurface = surfaces->backSurface;

    // No frame limiter: how fast frames come is part of how the scenes look.
    const Uint32 flags = waitForFlip != 0 ? SDL_RENDERER_PRESENTVSYNC : 0;
    // A window shows the frame at its own size (until the arrow keys stretch
    // it), so SDL's software renderer on the window's own framebuffer
    // (shared memory under X11) needs no GPU: it starts in a few
    // milliseconds where an OpenGL context can take a hundred, and on a
    // software GL it presents several times faster. Only a
    // default: SDL_RENDER_DRIVER and SDL_FRAMEBUFFER_ACCELERATION in the
    // environment still choose, and a system with no such framebuffer
    // (Wayland) falls back to SDL's own choice. Fullscreen frames are
    // scaled, which is the GPU's work.
    const bool plainWindow = mode == DisplayMode::windowed && waitForFlip == 0;
    if (plainWindow) {
        SDL_SetHintWithPriority(SDL_HINT_RENDER_DRIVER, "software", SDL_HINT_DEFAULT);
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    }
    renderer = SDL_CreateRenderer(sdlWindow, -1, flags);
    if (renderer == nullptr && plainWindow) {
        SDL_ResetHint(SDL_HINT_RENDER_DRIVER);
        SDL_ResetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
        renderer = SDL_CreateRenderer(sdlWindow, -1, flags);
    }
    if (renderer == nullptr) {
        reportError(-1);
    }
    // The top byte of a pixel is not alpha: effects XOR and subtract across it.
    backSurface = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                    kScreenWidth, kScreenHeight);
    if (backSurface == nullptr) {
        reportError(-1);
    }
    if (mode == DisplayMode::fullscreen) {
        // Ask for the demo's own mode; a display that lacks it keeps its own
        // and the frame is scaled onto it. Done after the renderer exists: an
        // OpenGL renderer recreates the window, which would drop the
        // fullscreen state set before it.
        SDL_DisplayMode wanted{SDL_PIXELFORMAT_RGB888, kScreenWidth, kScreenHeight, 0, nullptr};
        reportError(SDL_SetWindowDisplayMode(sdlWindow, &wanted));
        reportError(SDL_SetWindowFullscreen(sdlWindow, SDL_WINDOW_FULLSCREEN));
        reportError(SDL_RenderSetLogicalSize(renderer, kScreenWidth, kScreenHeight));
    } else {
        SDL_DisplayMode desktop{};
        reportError(SDL_GetDesktopDisplayMode(SDL_GetWindowDisplayIndex(sdlWindow), &desktop));
        if (SDL_BYTESPERPIXEL(desktop.format) != 4) {
            failWithMessage("32bpp desktop please ;)", "Error");
        }
    }

    // The pitch is read once; every later lock has the same layout.
    void* pixels = nullptr;
    int pitch = 0;
    reportError(SDL_LockTexture(backSurface, nullptr, &pixels, &pitch));
    SDL_UnlockTexture(backSurface);
    pitchPixels = pitch >> 2;
}

Pixel* DisplayDevice::lock() {
    void* pixels = nullptr;
    int pitch = 0;
    const int result = SDL_LockTexture(surfaces->backSurface, nullptr, &pixels, &pitch);
    if (result != 0) {
        reportError(result);
        return nullptr;
    }
    return static_cast<Pixel*>(pixels);
}

void DisplayDevice::unlock() {
    SDL_UnlockTexture(surfaces->backSurface);
}

void DisplayDevice::present() {
    SDL_Renderer* renderer = surfaces->renderer;
    if (mode == DisplayMode::fullscreen) {
        // The bars around a letterboxed frame stay black.
        reportError(SDL_RenderClear(renderer));
    }
    // Without a logical size the copy stretches over the whole window.
    reportError(SDL_RenderCopy(renderer, surfaces->backSurface, nullptr, nullptr));
    SDL_RenderPresent(renderer);
}
