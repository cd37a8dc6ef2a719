// The application window over SDL2 (X11 or Wayland): SDL's events become
// the window procedure's messages. A window class cannot be registered;
// the name is given to X11 as the window's class hint.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/app_window.h"

WindowHandle appWindow = nullptr;

namespace {

SDL_Window* sdlWindow(WindowHandle window) {
    return static_cast<SDL_Window*>(window);
}

void placeWindow(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height,
                 bool move) {
    if (move) {
        SDL_SetWindowPosition(sdlWindow(window), x, y);
    }
    SDL_SetWindowSize(sdlWindow(window), width, height);
    SDL_SetWindowAlwaysOnTop(sdlWindow(window), SDL_TRUE);
}

void captureMouse(WindowHandle) {
    SDL_CaptureMouse(SDL_TRUE);
}

void releaseMouse(WindowHandle) {
    SDL_CaptureMouse(SDL_FALSE);
}

intptr_t noDefaultHandling(WindowHandle, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

uintptr_t virtualKeyFor(SDL_Keycode key) {
    switch (key) {
        case SDLK_ESCAPE:
            return VirtualKey::escape;
        case SDLK_LEFT:
            return VirtualKey::left;
        case SDLK_UP:
            return VirtualKey::up;
        case SDLK_RIGHT:
            return VirtualKey::right;
        case SDLK_DOWN:
            return VirtualKey::down;
        default:
            return VirtualKey::other;
    }
}

bool isInvisibleDriver(const char* driver) {
    return driver == nullptr || std::strcmp(driver, "offscreen") == 0 ||
           std::strcmp(driver, "dummy") == 0;
}

}  // namespace

WindowHandle createAppWindow(DisplayMode mode) {
    // The window's class name: X11 takes it from the environment, Wayland from the hint.
    SDL_setenv("SDL_VIDEO_X11_WMCLASS", kWindowClass, 0);
    SDL_SetHint(SDL_HINT_APP_NAME, kWindowClass);
    // Only a press in the drag handle captures the pointer.
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
    // Closing the window is handled as the window's own event, not as a quit request.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        char reason[512];
        std::snprintf(reason, sizeof reason, "Cannot open the display: %s", SDL_GetError());
        failWithMessage(reason, "Error");
    }
    // With no display SDL quietly renders into memory; nobody would see the demo.
    if (SDL_getenv("SDL_VIDEODRIVER") == nullptr &&
        isInvisibleDriver(SDL_GetCurrentVideoDriver())) {
        std::fputs(
            "queltravine needs a display: no X11 or Wayland server was found (is DISPLAY set?)\n",
            stderr);
        endProcess(1);
    }

    int width = kScreenWidth;
    int height = kScreenHeight;
    if (mode == DisplayMode::fullscreen) {
        SDL_DisplayMode desktop{};
        if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
            width = desktop.w;
            height = desktop.h;
        }
    }
    SDL_Window* window =
        SDL_CreateWindow(windowTitleFor(mode), 0, 0, width, height, SDL_WINDOW_BORDERLESS);
    if (window == nullptr) {
        char reason[512];
        std::snprintf(reason, sizeof reason, "Cannot create the window: %s", SDL_GetError());
        failWithMessage(reason, "Error");
    }
    appWindow = window;
    SDL_ShowWindow(window);
    SDL_ShowCursor(SDL_DISABLE);

    windowActions = {quitDemo, placeWindow, captureMouse, releaseMouse, noDefaultHandling};
    return window;
}

void pumpMessages() {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        switch (event.type) {
            case SDL_QUIT:  // kept: a signal, not the window, ends without stopping the audio
                endProcess(0);
            case SDL_WINDOWEVENT:
                if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                    windowProc(appWindow, WindowMessage::destroy, 0, 0);
                }
                break;
            case SDL_KEYDOWN:  // auto-repeats included
                windowProc(appWindow, WindowMessage::keyDown, virtualKeyFor(event.key.keysym.sym),
                           0);
                break;
            case SDL_MOUSEMOTION:
                windowProc(appWindow, WindowMessage::mouseMove, 0,
                           pointerParam(event.motion.x, event.motion.y));
                break;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP:
                if (event.button.button == SDL_BUTTON_LEFT) {
                    const bool down = event.type == SDL_MOUSEBUTTONDOWN;
                    windowProc(appWindow,
                               down ? WindowMessage::leftButtonDown : WindowMessage::leftButtonUp,
                               down ? 1 : 0, pointerParam(event.button.x, event.button.y));
                }
                break;
            default:
                break;
        }
    }
}

void showNativeMessageBox(WindowHandle owner, const char* text, const char* caption) {
    SDL_ShowSimpleMessageBox(0, caption, text, sdlWindow(owner));
}

void endProcess(int status) {
    std::exit(status);
}

uint32_t millisecondClock() {
    return static_cast<uint32_t>(SDL_GetTicks64());
}
