// The display device in a browser: the canvas's 2D context. A canvas takes
// R, G, B, A bytes, the demo's pixels are B, G, R, X in memory, so each
// present swaps the channels of the uploaded frame into the canvas's copy.
// It cannot wait for a vertical blank itself: the page's animation frames
// already come once per display refresh, and nothing here can fail.
#include <emscripten.h>

#include "platform/display_device.h"

struct DisplaySurfaces {
    // The uploaded frame, in the demo's own pixels.
    Pixel backSurface[kScreenPixels];
    // Four bytes a pixel, R, G, B, A; the page's ImageData views it.
    Pixel canvasPixels[kScreenPixels];
};

namespace {

DisplaySurfaces canvasSurfaces;

// clang-format off
EM_JS(void, attachCanvasSurface, (const void* pixels, int width, int height), {
    const canvas = document.getElementById("screen");
    // Set only if different: setting the size, even to the same, drops the
    // buffers the page warmed up.
    if (canvas.width != width) canvas.width = width;
    if (canvas.height != height) canvas.height = height;
    Module.screenContext = canvas.getContext("2d", {alpha : false});
    // The memory never grows, so this view stays valid for good.
    Module.screenImage = new ImageData(
        new Uint8ClampedArray(HEAPU8.buffer, pixels, width * height * 4), width, height);
});

EM_JS(void, putCanvasSurface, (), {
    Module.screenContext.putImageData(Module.screenImage, 0, 0);
    if (Module.frameShown) Module.frameShown();
});
// clang-format on

}  // namespace

DisplayDevice::DisplayDevice(WindowHandle appWindow)
    : window(appWindow), surfaces(&canvasSurfaces) {}

const char* displayErrorReason(int32_t) {
    return "Unknown error";
}

void DisplayDevice::init(DisplayMode displayMode, uint8_t waitForFlipByte) {
    mode = displayMode;
    waitForFlip = waitForFlipByte;
    pitchPixels = kScreenWidth;
    attachCanvasSurface(surfaces->canvasPixels, kScreenWidth, kScreenHeight);
}

Pixel* DisplayDevice::lock() {
    return surfaces->backSurface;
}

void DisplayDevice::unlock() {}

void DisplayDevice::present() {
    const Pixel* from = surfaces->backSurface;
    Pixel* to = surfaces->canvasPixels;
    for (int i = 0; i < kScreenPixels; ++i) {
        const Pixel p = from[i];
        // 0xXXRRGGBB to bytes R, G, B, 0xFF.
        to[i] = 0xFF000000u | (p & 0x0000FF00u) | (p >> 16 & 0xFFu) | (p & 0xFFu) << 16;
    }
    putCanvasSurface();
}
