// The window in a browser: the page's canvas. Events come from the page
// (keys through webKey in the web entry), so draining the queue does
// nothing. It cannot move, resize or capture anything: the page does not own
// its window, so those window actions do nothing. Message boxes become a
// line on the page and in the console, and ending the process stops the
// demo where it is (the last frame stays).
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>

#include "platform/app_window.h"

WindowHandle appWindow = nullptr;

namespace {

int canvasWindow = 0;  // the handle stands for the page's one canvas

// clang-format off
EM_JS(void, showPageMessage, (const char* text, const char* caption), {
    Module.showMessage(UTF8ToString(caption), UTF8ToString(text));
});

// The page's show clock: it stands while the music does (page.js).
EM_JS(double, pageMilliseconds, (), {
    return Module.showClock ? Module.showClock() : performance.now();
});

EM_JS(void, stopFrameLoop, (), {
    Module.demoStopped();
});
// clang-format on

void placeNothing(WindowHandle, int32_t, int32_t, int32_t, int32_t, bool) {}
void captureNothing(WindowHandle) {}
intptr_t noDefaultHandling(WindowHandle, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

}  // namespace

WindowHandle createAppWindow(DisplayMode) {
    windowActions = {quitDemo, placeNothing, captureNothing, captureNothing, noDefaultHandling};
    appWindow = &canvasWindow;
    return appWindow;
}

void pumpMessages() {}

void showNativeMessageBox(WindowHandle, const char* text, const char* caption) {
    showPageMessage(text, caption);
}

// The frame loop stops where it is: the last frame stays on the canvas.
void endProcess(int status) {
    emscripten_cancel_main_loop();
    stopFrameLoop();
    std::exit(status);
}

uint32_t millisecondClock() {
    // The page's clock in whole milliseconds, wrapping at 2^32 as a
    // system's counter does (the double holds it exactly for 285,000 years).
    const double now = pageMilliseconds();
    return static_cast<uint32_t>(static_cast<uint64_t>(now > 0 ? now : 0));
}
