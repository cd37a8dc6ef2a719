// The display device in a browser: the canvas's 2D context. A canvas takes
// R, G, B, A bytes, the demo's pixels are B, G, R, X in memory, so each
// upload swaps the channels. It cannot wait for a vertical blank itself:
// the page's animation frames already come once per display refresh.
#include <emscripten.h>

#include "platform/display_device.h"

namespace {

// Four bytes a pixel, R, G, B, A; the page's ImageData views it.
Pixel backSurface[kScreenPixels];

// clang-format off
EM_JS(void, attachCanvasSurface, (const void* pixels, int width, int height), {
    const canvas = document.getElementById("screen");
    canvas.width = width;
    canvas.height = height;
    Module.screenContext = canvas.getContext("2d", {alpha : false});
    // The memory never grows, so this view stays valid for good.
    Module.screenImage = new ImageData(
        new Uint8ClampedArray(HEAPU8.buffer, pixels, width * height * 4), width, height);
});

EM_JS(void, putCanvasSurface, (), {
    Module.screenContext.putImageData(Module.screenImage, 0, 0);
    if (Module.firstFrameShown) {
        Module.firstFrameShown();
        Module.firstFrameShown = null;
    }
});
// clang-format on

}  // namespace

DisplayDevice::DisplayDevice(void* appWindow) : window(appWindow) {}

bool DisplayDevice::init(DisplayMode displayMode, uint8_t waitForFlipByte) {
    mode = displayMode;
    waitForFlip = waitForFlipByte;
    attachCanvasSurface(backSurface, kScreenWidth, kScreenHeight);
    return true;
}

Pixel* DisplayDevice::lock() {
    return backSurface;
}

void DisplayDevice::unlock() {}

void DisplayDevice::uploadFrame() {
    const Pixel* from = frameSource;
    for (int i = 0; i < kScreenPixels; ++i) {
        const Pixel p = from[i];
        // 0xXXRRGGBB to bytes R, G, B, 0xFF.
        backSurface[i] = 0xFF000000u | (p & 0x0000FF00u) | (p >> 16 & 0xFFu) | (p & 0xFFu) << 16;
    }
}

void DisplayDevice::present() {
    putCanvasSurface();
}
