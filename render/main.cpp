// queltravine-render: runs the demo's timeline and synthesiser against a
// virtual clock, with no window and no sound device, and writes what a viewer
// would have seen and heard as WAV, PNG frames, a video and a per-frame log.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "pictures/picture_loader.h"
#include "pictures/show_pictures.h"
#include "render/flash_report.h"
#include "render/frame_log.h"
#include "render/frame_writers.h"
#include "render/options.h"
#include "render/output_check.h"
#include "render/output_files.h"
#include "render/progress.h"
#include "render/schedule.h"
#include "render/show_frames.h"
#include "render/video_encoder.h"
#include "render/wav_output.h"
#include "scenes/flash_limiter.h"
#include "scenes/scene_timeline.h"

namespace {

// The demo's pictures, loaded as the player loads them. A picture that fails
// to decode stays black, which keeps the render reproducible.
std::vector<Pixel> pictureBuffers[Picture::count];
std::vector<Pixel> stripBuffer;
std::vector<Pixel> backBuffer;

// Where the pictures are read from without --pictures: the current folder,
// as the player does, unless it holds none of them and the renderer was
// installed next to a picture folder (PREFIX/bin and PREFIX/share/queltravine).
std::string defaultPicturesFolder() {
    std::error_code error;
    for (int p = 0; p < Picture::count; ++p) {
        if (std::filesystem::exists(kPictureFiles[p], error))
            return "";
    }
    if (std::filesystem::exists(kStripFile, error))
        return "";
#ifdef __linux__
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed =
            program.parent_path().parent_path() / "share" / "queltravine";
        if (std::filesystem::exists(installed / kPictureFiles[0], error))
            return installed.string();
    }
#endif
    return "";
}

// After each picture file: a Ctrl-C ends the render there. A test build can
// slow the start-up here on purpose (see QUELTRAVINE_START_DELAY_MS in
// CMakeLists.txt).
void afterPictureFile() {
    if constexpr (QUELTRAVINE_START_DELAY_MS > 0) {
        const int files = Picture::count + 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(QUELTRAVINE_START_DELAY_MS / files));
    }
    stopIfInterrupted();
}

void loadPictures(const std::string& dir) {
    Pixel* pictures[Picture::count];
    for (int p = 0; p < Picture::count; ++p) {
        pictureBuffers[p].resize(Picture::pixels);
        pictures[p] = pictureBuffers[p].data();
    }
    stripBuffer.resize(GreetingsStrip::pixels);
    const std::string missing =
        loadShowPictures(dir, pictures, stripBuffer.data(), afterPictureFile);
    if (!missing.empty())
        failRender("cannot render without the picture '" + missing + "'");
}

void renderFrames(const RenderOptions& options, const std::string& wavForVideo) {
    const RenderSchedule& schedule = options.schedule;
    backBuffer.assign(kScreenPixels, 0);

    FILE* log = nullptr;
    if (!options.logPath.empty()) {
        log = openOutput(options.logPath);
        std::fputs(kFrameLogHeader, log);
    }
    FILE* crcs = options.crcPath.empty() ? nullptr : openOutput(options.crcPath);
    FILE* flashes = nullptr;
    if (!options.flashReportPath.empty()) {
        flashes = openOutput(options.flashReportPath);
        startFlashAnalysis(schedule.fps, schedule.firstFrame, schedule.frames);
    }
    // After the report's start: the limiter then owns the flash tracker.
    if (options.reduceFlashes)
        startFlashLimiter(schedule.fps);  // the report's second: fps frames
    const std::string logName = "'" + options.logPath + "'";
    const std::string crcName = "'" + options.crcPath + "'";
    const bool video = !options.videoPath.empty();
    if (video) {
        VideoSettings settings;
        settings.path = options.videoPath;
        settings.scale = static_cast<int>(options.scale);
        settings.fps = schedule.fps;
        settings.lossless = options.lossless;
        settings.chroma444 = options.chroma == "444";
        settings.crf = static_cast<int>(options.crf);
        if (!options.preset.empty())
            settings.preset = options.preset;
        startVideoEncoder(settings, wavForVideo);
    }

    startProgress();
    PngWriter pngWriter;
    if (!options.framesDir.empty())
        pngWriter.start();
    renderShowFrames(schedule, backBuffer.data(), [&](int64_t k, uint32_t clockMs) {
        if (renderInterrupted) {
            pngWriter.finish();  // the frames being written end whole or are removed
            stopIfInterrupted();
        }
        // A flash is counted from the frames before it, written or not; so
        // is each frame's limit.
        const Pixel* shown = backBuffer.data();
        if (options.reduceFlashes) {
            FlashTransitions transitions;
            shown = limitFlashes(backBuffer.data(), k, &transitions);
            if (flashes != nullptr) {
                recordFlashFrame(transitions);
                recordShownFrame(backBuffer.data(), shown);
            }
        } else if (flashes != nullptr) {
            analyseFlashFrame(shown);
        }
        // Frames before --from are composed like every other but not written.
        if (k >= schedule.firstFrame) {
            char line[160];
            if (log != nullptr) {
                const int length = formatFrameLogLine(line, sizeof line, k, clockMs);
                writeAll(log, line, static_cast<size_t>(length), logName);
            }
            if (crcs != nullptr && k % options.every == 0) {
                const int length = formatFrameCrcLine(line, sizeof line, k, shown);
                writeAll(crcs, line, static_cast<size_t>(length), crcName);
            }
            if (!options.framesDir.empty() && k % options.every == 0)
                pngWriter.submit(joinPath(options.framesDir, frameFileName(k)), shown);
            if (video)
                encodeVideoFrame(shown);
        }
        showProgress(k + 1, schedule.frames, false);
    });
    pngWriter.finish();
    if (log != nullptr)
        finishOutput(log, options.logPath);
    if (crcs != nullptr)
        finishOutput(crcs, options.crcPath);
    if (flashes != nullptr) {
        const std::string report = formatFlashReport(flashSeconds(), options.reduceFlashes);
        writeAll(flashes, report.data(), report.size(), "'" + options.flashReportPath + "'");
        finishOutput(flashes, options.flashReportPath);
    }
    if (video)
        finishVideoEncoder();
    showProgress(schedule.frames, schedule.frames, true);
}

// Ctrl-C and SIGTERM only set a flag, which every long step looks at; from
// the first instant, so that even a signal during start-up ends the render
// with its message and nothing left behind.
void takeInterrupts() {
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);  // a dead ffmpeg shows as a failed write
    // Without SA_RESTART: a wait for a FIFO's reader, or a write it does not
    // take, ends on Ctrl-C instead of starting again.
    struct sigaction interrupt {};
    interrupt.sa_handler = [](int) { renderInterrupted = 1; };
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, nullptr);
    sigaction(SIGTERM, &interrupt, nullptr);
#else
    std::signal(SIGINT, [](int) { renderInterrupted = 1; });
    std::signal(SIGTERM, [](int) { renderInterrupted = 1; });
#endif
}

}  // namespace

int main(int argc, char** argv) {
    takeInterrupts();
    const RenderOptions options = parseRenderOptions(argc, argv);
    stopIfInterrupted();
    checkOutputs(options);
    stopIfInterrupted();
    loadPictures(options.picturesDir.empty() ? defaultPicturesFolder() : options.picturesDir);

    // The audio comes first: it does not depend on the frames, and ffmpeg
    // reads it from a finished file while the frames stream in.
    // A WAV that goes down a pipe or to a device cannot be read back, so the
    // video then takes its audio from a temporary file of its own.
    std::string wavForVideo = isStraightOutput(options.wavPath) ? "" : options.wavPath;
    std::string temporaryWav;
    if (!options.wavPath.empty())
        writeWav(options.schedule, options.wavPath, options.wavRate);
    if (!options.videoPath.empty() && wavForVideo.empty()) {
        temporaryWav = temporaryPath(".wav");
        trackPartialFile(temporaryWav);
        writeWav(options.schedule, temporaryWav, options.wavRate);
        wavForVideo = temporaryWav;
    }
    if (needsFrames(options))
        renderFrames(options, wavForVideo);
    if (!temporaryWav.empty())
        std::remove(temporaryWav.c_str());
    return 0;
}
