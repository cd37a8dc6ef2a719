// The demo's entry: brings everything up in a fixed order, then composes,
// uploads and presents frames as fast as they come, for ever.
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/command_line.h"
#include "app/demo_types.h"
#include "pictures/picture_loader.h"
#include "platform/app_window.h"
#include "platform/display_device.h"
#include "platform/window_geometry.h"
#include "scenes/scene_timeline.h"
#include "synth/audio_output.h"

namespace {

// Every buffer lives until the process ends.
Pixel* allocatePixels(size_t bytes) {
    void* memory = std::malloc(bytes);
    if (memory == nullptr) {
        failWithMessage("Not enough memory for pictures", "error");
    }
    return static_cast<Pixel*>(memory);
}

}  // namespace

int main(int argc, char** argv) {
    setMessageBoxHook(showMessageBox);

    displayMode = displayModeFor(commandLineTail(argc, argv));
    auto* window = static_cast<SDL_Window*>(createAppWindow(displayMode));

    auto* display = new (std::nothrow) DisplayDevice(window);
    if (display == nullptr) {
        failWithMessage("Not enough memory for the display device", "error");
    }
    display->init(displayMode, 0);
    startWindowGeometry();

    auto* backBuffer = static_cast<Pixel*>(std::malloc(VirtualBackBuffer::bytes));
    display->frameSource = backBuffer;
    pumpMessages();
    if (backBuffer == nullptr) {
        failWithMessage("Not enough memory for virtual backbuffer", "error");
    }
    std::memset(backBuffer, 0, VirtualBackBuffer::bytes);
    SceneTimeline::inputs.backBuffer = backBuffer;

    Pixel* pictures[Picture::count];
    for (Pixel*& picture : pictures) {
        picture = allocatePixels(Picture::bytes);
    }
    Pixel* strip = allocatePixels(GreetingsStrip::bytes);

    // Each buffer is zeroed first, so a picture that fails to decode shows
    // black rather than whatever the memory held.
    for (int i = 0; i < Picture::count; ++i) {
        std::memset(pictures[i], 0, Picture::bytes);
        loadPicture(kPictureFiles[i], pictures[i], Picture::pixels);
        SceneTimeline::inputs.pictures[i] = pictures[i];
    }
    std::memset(strip, 0, GreetingsStrip::bytes);
    loadPicture(kStripFile, strip, GreetingsStrip::pixels);
    SceneTimeline::inputs.strip = strip;

    startAudio();
    startAudio();

    SceneTimeline::inputs.clock = millisecondClock;
    SceneTimeline::start();
    for (;;) {
        SceneTimeline::composeFrame();
        display->uploadFrame();
        display->present();
        pumpMessages();
    }
}
