// The browser page's render mode: the renderer's virtual clock and audio
// schedule (start at 0 ms, 40,000-byte blocks) run as fast as they go, and
// the frame log and frame checksums kept as text for the page, line for
// line what queltravine-render --log and --crc write.
#include <emscripten.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pictures/picture_loader.h"
#include "pictures/show_pictures.h"
#include "platform/app_window.h"
#include "render/frame_log.h"
#include "render/show_frames.h"
#include "scenes/flash_limiter.h"

namespace {

// The render mode's outputs, kept for the page to read.
std::string renderLog;
std::string renderCrcs;
std::string renderTimes;
std::vector<Pixel> renderBackBuffer;
Pixel renderPictures[Picture::count][Picture::pixels];
Pixel renderStrip[GreetingsStrip::pixels];

}  // namespace

extern "C" {

// `frames` frames at fps against the renderer's virtual clock (start 0 ms,
// 40,000-byte blocks), as queltravine-render does; the log and the CRC of
// every frame whose index is a multiple of every, of the frames as shown
// with the flashing reduced when reduceFlashes is nonzero (--reduce-flashes).
// Returns false when a picture is missing (its message has been shown).
EMSCRIPTEN_KEEPALIVE int webRender(int frames, int fps, int every, int reduceFlashes) {
    setMessageBoxHook(showOwnerlessMessageBox);
    Pixel* pictures[Picture::count];
    for (int i = 0; i < Picture::count; ++i)
        pictures[i] = renderPictures[i];
    if (!loadShowPictures("", pictures, renderStrip).empty())
        return 0;
    renderBackBuffer.assign(kScreenPixels, 0);

    RenderSchedule schedule;
    schedule.fps = fps;
    schedule.frames = frames;
    renderLog = kFrameLogHeader;
    renderCrcs.clear();
    char line[160];
    ComposeTimes times;
    if (reduceFlashes != 0)
        startFlashLimiter(fps);  // the renderer's second: fps frames
    renderShowFrames(
        schedule, renderBackBuffer.data(),
        [&](int64_t k, uint32_t clockMs) {
            renderLog.append(
                line, static_cast<size_t>(formatFrameLogLine(line, sizeof line, k, clockMs)));
            const Pixel* shown = renderBackBuffer.data();
            if (reduceFlashes != 0)
                shown = limitFlashes(shown, k, nullptr);
            if (k % every == 0) {
                renderCrcs.append(
                    line, static_cast<size_t>(formatFrameCrcLine(line, sizeof line, k, shown)));
            }
        },
        &times);
    // How long composing took, per scene: what the page can afford a frame.
    renderTimes.clear();
    for (int scene = 0; scene < 5; ++scene) {
        if (times.frames[scene] == 0)
            continue;
        std::snprintf(line, sizeof line, "scene %d: %lld frames, %.3f ms a frame\n", scene,
                      static_cast<long long>(times.frames[scene]),
                      times.milliseconds[scene] / static_cast<double>(times.frames[scene]));
        renderTimes += line;
    }
    return 1;
}

EMSCRIPTEN_KEEPALIVE const char* webRenderLog() {
    return renderLog.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* webRenderCrcs() {
    return renderCrcs.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* webRenderTimes() {
    return renderTimes.c_str();
}
}
