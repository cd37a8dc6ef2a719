// The demo's entry on Windows: brings everything up in a fixed order, then
// composes, uploads and presents frames as fast as they come, for ever.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/command_line.h"
#include "app/demo_types.h"
#include "pictures/picture_loader.h"
#include "platform/display_device.h"
#include "platform/win32_window.h"
#include "platform/window_geometry.h"
#include "scenes/scene_timeline.h"
#include "synth/audio_output.h"

namespace {

// A picture that cannot be found: no owner window, caption = the file name.
void showPictureMessage(const char* text, const char* caption) {
    std::fputs(caption, stderr);
    std::fputs(": ", stderr);
    std::fputs(text, stderr);
    std::fputs("\n", stderr);
    MessageBoxA(nullptr, text, caption, MB_OK);
}

// Every buffer lives until the process ends.
Pixel* allocatePixels(size_t bytes) {
    void* memory = std::malloc(bytes);
    if (memory == nullptr) {
        failWithMessage("Not enough memory for pictures", "error");
    }
    return static_cast<Pixel*>(memory);
}

}  // namespace

// The runtime hands over the command line without the program's name and the
// blanks after it, and the show command of the start-up information.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    setMessageBoxHook(showPictureMessage);

    displayMode = displayModeFor(commandLine);
    HWND window = createAppWindow(instance, showCommand, displayMode);

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
        std::fputs("error: Not enough memory for virtual backbuffer\n", stderr);
        MessageBoxA(nullptr, "Not enough memory for virtual backbuffer", "error", MB_OK);
        std::exit(1);
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
