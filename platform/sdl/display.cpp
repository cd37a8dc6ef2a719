// The display device over SDL2's renderer: a streaming texture is the back
// surface. There is no flip chain; where the display has no 640x480 mode the
// frame is scaled sharply and letterboxed instead of changing the mode.
// Fullscreen presents once per display refresh: SDL is asked for vsync, and
// where it does not really wait (its software renderer, the dummy and
// offscreen drivers, an OpenGL driver with no swap interval) our own pacer
// keeps the period. The window is unpaced unless QUELTRAVINE_PACE_WINDOW asks.
#include <SDL.h>

#include <cstring>

#include "platform/app_window.h"
#include "platform/display_device.h"
#include "platform/frame_pacer.h"
#include "platform/letterbox.h"

struct DisplaySurfaces {
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* backSurface = nullptr;
    // Fullscreen: the frame enlarged by the letterbox's whole factor (null
    // where the factor is 1), and the screen size it was made for.
    SDL_Texture* enlarged = nullptr;
    Letterbox box;
    int outputWidth = 0;
    int outputHeight = 0;
    bool paced = false;
    FramePacer pacer;
};

namespace {

DisplaySurfaces sdlSurfaces;

// Any value but empty or "0" paces the window too.
bool windowPacingAsked() {
    const char* value = SDL_getenv("QUELTRAVINE_PACE_WINDOW");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

// SDL imitates vsync for an OpenGL renderer whose driver refused a swap
// interval, by sleeping whole milliseconds (62.5 frames a second at 60 Hz).
// Our pacer keeps the true period instead, so SDL's imitation is turned off.
void dropImitatedVsync(SDL_Renderer* renderer) {
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer, &info) == 0 && std::strncmp(info.name, "opengl", 6) == 0 &&
        SDL_GL_GetSwapInterval() == 0) {
        SDL_RenderSetVSync(renderer, 0);
    }
}

// The letterbox for the renderer's present output size, and the enlarged
// copy it needs. Runs at the first present and again only if the screen
// changes size (a mode switch lands after init on some window systems).
void fitToScreen(DisplaySurfaces& surfaces) {
    int width = 0;
    int height = 0;
    if (SDL_GetRendererOutputSize(surfaces.renderer, &width, &height) != 0 ||
        (width == surfaces.outputWidth && height == surfaces.outputHeight)) {
        return;
    }
    surfaces.outputWidth = width;
    surfaces.outputHeight = height;
    surfaces.box = letterboxFor(width, height);
    if (surfaces.enlarged != nullptr) {
        SDL_DestroyTexture(surfaces.enlarged);
        surfaces.enlarged = nullptr;
    }
    if (surfaces.box.wholeFactor > 1) {
        surfaces.enlarged = SDL_CreateTexture(
            surfaces.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_TARGET,
            kScreenWidth * surfaces.box.wholeFactor, kScreenHeight * surfaces.box.wholeFactor);
        // No such texture (too large for the GPU): the frame is scaled in one step.
        if (surfaces.enlarged != nullptr) {
            SDL_SetTextureScaleMode(surfaces.enlarged, SDL_ScaleModeLinear);
        }
    }
}

// The first failure of the frame's way to the screen, or 0.
int presentLetterboxed(DisplaySurfaces& surfaces) {
    fitToScreen(surfaces);
    SDL_Renderer* renderer = surfaces.renderer;
    SDL_Texture* frame = surfaces.backSurface;
    if (surfaces.enlarged != nullptr && SDL_SetRenderTarget(renderer, surfaces.enlarged) == 0) {
        SDL_RenderCopy(renderer, frame, nullptr, nullptr);
        SDL_SetRenderTarget(renderer, nullptr);
        frame = surfaces.enlarged;
    }
    // The bars around a letterboxed frame stay black.
    const int cleared = SDL_RenderClear(renderer);
    if (cleared != 0) {
        return cleared;
    }
    const SDL_Rect where{surfaces.box.x, surfaces.box.y, surfaces.box.width, surfaces.box.height};
    return SDL_RenderCopy(renderer, frame, nullptr, &where);
}

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

    // Kept: a window shows frames as fast as they come, as a blit did; the
    // fullscreen flip waited for the vertical blank, so fullscreen is paced.
    surfaces->paced = mode == DisplayMode::fullscreen || waitForFlip != 0 || windowPacingAsked();
    const Uint32 flags = surfaces->paced ? SDL_RENDERER_PRESENTVSYNC : 0;
    // A window shows the frame at its own size (until the arrow keys stretch
    // it), so SDL's software renderer on the window's own framebuffer
    // (shared memory under X11) needs no GPU: it starts in a few
    // milliseconds where an OpenGL context can take a hundred, and on a
    // software GL it presents several times faster. Only a
    // default: SDL_RENDER_DRIVER and SDL_FRAMEBUFFER_ACCELERATION in the
    // environment still choose, and a system with no such framebuffer
    // (Wayland) falls back to SDL's own choice. Fullscreen frames are
    // scaled, which is the GPU's work.
    const bool plainWindow = mode == DisplayMode::windowed;
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
    if (surfaces->paced) {
        dropImitatedVsync(renderer);
    }
    // The top byte of a pixel is not alpha: effects XOR and subtract across it.
    backSurface = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                    kScreenWidth, kScreenHeight);
    if (backSurface == nullptr) {
        reportError(-1);
    }
    // Whole-factor enlargements copy pixels; only the last step filters.
    SDL_SetTextureScaleMode(backSurface, SDL_ScaleModeNearest);
    if (mode == DisplayMode::fullscreen) {
        // Ask for the demo's own mode; a display that lacks it keeps its own
        // and the frame is scaled onto it. Done after the renderer exists: an
        // OpenGL renderer recreates the window, which would drop the
        // fullscreen state set before it.
        SDL_DisplayMode wanted{SDL_PIXELFORMAT_RGB888, kScreenWidth, kScreenHeight, 0, nullptr};
        reportError(SDL_SetWindowDisplayMode(sdlWindow, &wanted));
        reportError(SDL_SetWindowFullscreen(sdlWindow, SDL_WINDOW_FULLSCREEN));
    } else {
        SDL_DisplayMode desktop{};
        reportError(SDL_GetDesktopDisplayMode(SDL_GetWindowDisplayIndex(sdlWindow), &desktop));
        if (SDL_BYTESPERPIXEL(desktop.format) != 4) {
            failWithMessage("32bpp desktop please ;)", "Error");
        }
    }
    if (surfaces->paced) {
        SDL_DisplayMode current{};
        const int shown = SDL_GetWindowDisplayIndex(sdlWindow);
        surfaces->pacer = framePacerFor(
            SDL_GetCurrentDisplayMode(shown < 0 ? 0 : shown, &current) == 0 ? current.refresh_rate
                                                                            : 0);
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
    if (mode == DisplayMode::fullscreen) {
        reportError(presentLetterboxed(*surfaces));
    } else {
        // The copy stretches over the whole window, whatever its size.
        reportError(SDL_RenderCopy(surfaces->renderer, surfaces->backSurface, nullptr, nullptr));
    }
    if (surfaces->paced) {
        paceBeforePresent(surfaces->pacer, steadyPacerClock());
    }
    SDL_RenderPresent(surfaces->renderer);
    if (surfaces->paced) {
        notePresented(surfaces->pacer, steadyPacerClock());
    }
}
