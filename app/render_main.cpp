// queltravine-render: runs the demo's timeline and synthesiser against a
// virtual clock, with no window and no sound device, and writes what a viewer
// would have seen and heard as WAV, PNG frames, a video and a per-frame log.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "app/offline_render.h"
#include "pictures/picture_loader.h"
#include "scenes/scene_timeline.h"
#include "synth/synthesiser.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "queltravine-render";

const char* const kUsage =
    "Usage: queltravine-render [OPTION]... OUTPUT...\n"
    "Renders the demo against a virtual clock, bit for bit the same on every run.\n"
    "\n"
    "Outputs (any combination, at least one):\n"
    "  --wav FILE          the audio: 22050 Hz 16-bit stereo PCM WAV\n"
    "  --frames DIR        frames as DIR/frame-NNNNNN.png (RGB); DIR is created\n"
    "  --every N           with --frames, keep frames whose index is a multiple of N\n"
    "  --video FILE        frames and audio encoded by ffmpeg (H.264 and AAC for\n"
    "                      .mp4 .mov .mkv .m4v; ffmpeg's choice for other extensions)\n"
    "  --scale N           with --video, enlarge frames N times (nearest neighbour)\n"
    "  --log FILE          one line per frame: index, clock ms, elapsed seconds,\n"
    "                      elapsed centiseconds, both residues, accumulator, scene\n"
    "\n"
    "Schedule:\n"
    "  --seconds S         length in seconds, decimals allowed (default 110)\n"
    "  --fps F             frames per second, 1 to 1000 (default 60)\n"
    "  --start-ms T0       clock reading at the start, 0 to 4294967295 (default 0)\n"
    "  --audio-block B     bytes per synthesiser block, 4 to 16777216 (default 40000)\n"
    "  --pictures DIR      folder holding the six pictures (default: current folder)\n"
    "\n"
    "  --force             overwrite existing outputs\n"
    "  --help              show this help\n";

struct Options {
    std::string wavPath;
    std::string framesDir;
    std::string videoPath;
    std::string logPath;
    std::string picturesDir;
    int64_t every = 1;
    int64_t scale = 1;
    int64_t lengthMicros = 110'000'000;
    RenderSchedule schedule;
    bool force = false;
};

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n\n%s", kProgram, message.c_str(), kUsage);
    std::exit(2);
}

// Files being written under a temporary name; removed if the render fails.
std::vector<std::string> partialFiles;
volatile std::sig_atomic_t interrupted = 0;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "\n%s: %s\n", kProgram, message.c_str());
    for (const std::string& path : partialFiles)
        std::remove(path.c_str());
    std::exit(1);
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        if (const size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != name.npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (name == "--force") {
            options.force = true;
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= argc)
                usageError("option '" + name + "' needs a value");
            value = argv[++i];
        }
        const auto integer = [&](int64_t low, int64_t high) {
            int64_t result = 0;
            if (!parseInteger(value.c_str(), low, high, &result)) {
                usageError("'" + value + "' is not valid for " + name + " (a whole number from " +
                           std::to_string(low) + " to " + std::to_string(high) + ")");
            }
            return result;
        };
        if (value.empty())
            usageError("option '" + name + "' needs a value");
        if (name == "--wav") {
            options.wavPath = value;
        } else if (name == "--frames") {
            options.framesDir = value;
        } else if (name == "--video") {
            options.videoPath = value;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (name == "--pictures") {
            options.picturesDir = value;
        } else if (name == "--every") {
            options.every = integer(1, 1'000'000'000);
        } else if (name == "--scale") {
            options.scale = integer(1, 8);
        } else if (name == "--fps") {
            options.schedule.fps = static_cast<int32_t>(integer(1, 1000));
        } else if (name == "--start-ms") {
            options.schedule.startMs = static_cast<uint32_t>(integer(0, 4'294'967'295));
        } else if (name == "--audio-block") {
            options.schedule.audioBlockBytes = static_cast<int32_t>(integer(4, 16 << 20));
        } else if (name == "--seconds") {
            if (!parseSeconds(value.c_str(), &options.lengthMicros)) {
                usageError("'" + value +
                           "' is not valid for --seconds (seconds from 0 to 10000000, at most "
                           "six decimals)");
            }
        } else {
            usageError("unknown option '" + name + "'");
        }
    }
    if (options.wavPath.empty() && options.framesDir.empty() && options.videoPath.empty() &&
        options.logPath.empty()) {
        usageError("nothing to write: give --wav, --frames, --video or --log");
    }
    options.schedule.frames = frameCountFor(options.lengthMicros, options.schedule.fps);
    return options;
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) != 0;
#endif
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// "out.mp4" -> "out.partial.mp4": ffmpeg picks the format by the extension.
std::string partialName(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == path.npos || (slash != path.npos && dot < slash) || dot == slash + 1) {
        return path + ".partial";
    }
    return path.substr(0, dot) + ".partial" + path.substr(dot);
}

// Only the ffmpeg path uses it, which the Windows build leaves out.
[[maybe_unused]] bool findProgram(const char* program) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == dirs.npos)
            end = dirs.size();
        std::error_code error;
        const fs::path candidate = fs::path(dirs.substr(start, end - start)) / program;
        if (fs::is_regular_file(candidate, error) && (fs::status(candidate, error).permissions() &
                                                      fs::perms::owner_exec) != fs::perms::none) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// Refuses, before any work, to overwrite what exists without --force.
void checkOutputs(const Options& options) {
    const auto refuse = [](const std::string& path) {
        fail("'" + path + "' exists; use --force to overwrite it");
    };
    for (const std::string* path : {&options.wavPath, &options.videoPath, &options.logPath}) {
        if (!path->empty() && !options.force && exists(*path))
            refuse(*path);
    }
    if (!options.framesDir.empty()) {
        std::error_code error;
        if (exists(options.framesDir)) {
            if (!fs::is_directory(options.framesDir, error)) {
                fail("'" + options.framesDir + "' is not a folder");
            }
            if (!options.force) {
                for (int64_t k = 0; k < options.schedule.frames; k += options.every) {
                    const std::string path = joinPath(options.framesDir, frameFileName(k));
                    if (exists(path))
                        refuse(path);
                }
            }
        } else if (!fs::create_directories(options.framesDir, error)) {
            fail("cannot create the folder '" + options.framesDir + "': " + error.message());
        }
    }
#ifdef _WIN32
    if (!options.videoPath.empty()) {
        fail(
            "--video is not available in the Windows build: write --frames and --wav, then encode");
    }
#else
    if (!options.videoPath.empty() && !findProgram("ffmpeg")) {
        fail("--video needs the ffmpeg program, which is not installed (Debian package 'ffmpeg')");
    }
#endif
}

// The demo's pictures, loaded as the player loads them. A picture that fails
// to decode stays black, which keeps the render reproducible.
std::vector<Pixel> pictureBuffers[Picture::count];
std::vector<Pixel> stripBuffer;
std::vector<Pixel> backBuffer;

void loadPictures(const std::string& dir) {
    for (int p = 0; p < Picture::count; ++p) {
        pictureBuffers[p].assign(Picture::pixels, 0);
        const std::string path = joinPath(dir, kPictureFiles[p]);
        loadPicture(path.c_str(), pictureBuffers[p].data(), Picture::pixels);
    }
    stripBuffer.assign(GreetingsStrip::pixels, 0);
    loadPicture(joinPath(dir, kStripFile).c_str(), stripBuffer.data(), GreetingsStrip::pixels);
}

FILE* openOutput(const std::string& path) {
    const std::string partial = partialName(path);
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr)
        fail("cannot write '" + partial + "': " + std::strerror(errno));
    partialFiles.push_back(partial);
    return file;
}

void finishOutput(FILE* file, const std::string& path) {
    const std::string partial = partialName(path);
    if (std::fflush(file) != 0 || std::ferror(file) || std::fclose(file) != 0) {
        fail("cannot write '" + partial + "': " + std::strerror(errno));
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        fail("cannot rename '" + partial + "' to '" + path + "': " + std::strerror(errno));
    }
    std::erase(partialFiles, partial);
}

void writeAll(FILE* file, const void* data, size_t bytes, const std::string& what) {
    if (bytes != 0 && std::fwrite(data, 1, bytes, file) != bytes) {
        fail("cannot write " + what + ": " + std::strerror(errno));
    }
}

// The synthesiser from its state at process start.
void resetSynthesiser() {
    synthState = {};
    synthRandom = {};
    stepResidueA = 0;
    stepResidueB = 0;
}

// Audio is produced in whole blocks, as the real-time player asks for it.
std::vector<uint8_t> audioBlock;
int64_t audioProduced = 0;

// Produces blocks until `needed` stereo frames exist; hands each block to
// sink(data, frames).
template <typename Sink>
void produceAudio(const RenderSchedule& schedule, int64_t needed, Sink&& sink) {
    const int32_t blockFrames = schedule.audioBlockBytes / kAudioBytesPerFrame;
    while (audioProduced < needed) {
        fillStereoBlock(nullptr, audioBlock.data(), schedule.audioBlockBytes, 12345);
        sink(audioBlock.data(), blockFrames);
        audioProduced += blockFrames;
    }
}

void writeWav(const RenderSchedule& schedule, const std::string& path) {
    const int64_t total = wavFrames(schedule);
    uint8_t header[44];
    if (!makeWavHeader(total, header))
        fail("the audio is too long for a WAV file: render less");
    FILE* file = openOutput(path);
    writeAll(file, header, sizeof header, "'" + path + "'");
    resetSynthesiser();
    audioProduced = 0;
    int64_t written = 0;
    produceAudio(schedule, total, [&](const uint8_t* data, int32_t frames) {
        const int64_t keep = std::min<int64_t>(frames, total - written);
        writeAll(file, data, static_cast<size_t>(keep) * kAudioBytesPerFrame, "'" + path + "'");
        written += keep;
    });
    finishOutput(file, path);
}

// ffmpeg, fed raw frames through a pipe; the audio comes from a finished WAV.
struct Encoder {
    FILE* input = nullptr;
#ifndef _WIN32
    pid_t pid = -1;
#endif
};

[[maybe_unused]] bool hasVideoCodecDefaults(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == path.npos)
        return false;
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".mp4" || ext == ".mov" || ext == ".mkv" || ext == ".m4v";
}

#ifdef _WIN32
Encoder startEncoder(const Options&, const std::string&) {
    return {};
}
void finishEncoder(Encoder&, const std::string&) {}
#else
Encoder startEncoder(const Options& options, const std::string& wavPath) {
    const std::string size = std::to_string(kScreenWidth * options.scale) + "x" +
                             std::to_string(kScreenHeight * options.scale);
    const std::string fps = std::to_string(options.schedule.fps);
    const std::string output = partialName(options.videoPath);
    std::vector<std::string> args = {
        "ffmpeg",   "-hide_banner", "-loglevel", "error",       "-nostdin", "-y",         "-f",
        "rawvideo", "-pix_fmt",     "bgr0",      "-video_size", size,       "-framerate", fps,
        "-i",       "pipe:0",       "-i",        wavPath};
    if (hasVideoCodecDefaults(options.videoPath)) {
        for (const char* arg : {"-c:v", "libx264", "-preset", "medium", "-crf", "16", "-pix_fmt",
                                "yuv420p", "-c:a", "aac", "-b:a", "192k"}) {
            args.emplace_back(arg);
        }
    }
    for (const char* arg : {"-ar", "48000"})
        args.emplace_back(arg);
    args.push_back(output);

    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        fail(std::string("cannot start ffmpeg: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    Encoder encoder;
    const int status =
        posix_spawnp(&encoder.pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[0]);
    if (status != 0)
        fail(std::string("cannot start ffmpeg: ") + std::strerror(status));
    partialFiles.push_back(output);
    encoder.input = ::fdopen(pipeEnds[1], "wb");
    if (encoder.input == nullptr)
        fail(std::string("cannot start ffmpeg: ") + std::strerror(errno));
    return encoder;
}

void finishEncoder(Encoder& encoder, const std::string& path) {
    const bool flushed = std::fflush(encoder.input) == 0 && !std::ferror(encoder.input);
    std::fclose(encoder.input);
    int status = 0;
    ::waitpid(encoder.pid, &status, 0);
    if (!flushed || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail("ffmpeg failed to encode '" + path + "' (its messages are above)");
    }
    const std::string partial = partialName(path);
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        fail("cannot rename '" + partial + "' to '" + path + "': " + std::strerror(errno));
    }
    std::erase(partialFiles, partial);
}
#endif

double secondsNow() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One line on a terminal, rewritten in place a few times a second.
struct Progress {
    bool shown = false;
    double started = 0;
    double lastShown = -1;

    void update(int64_t done, int64_t total, bool last) {
        if (!shown)
            return;
        const double now = secondsNow();
        if (!last && now - lastShown < 0.25)
            return;
        lastShown = now;
        const double elapsed = now - started;
        const double fps = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
        const double left = fps > 0 ? static_cast<double>(total - done) / fps : 0.0;
        std::fprintf(stderr, "\rframe %lld/%lld  %.1f fps  %.0f s left   ",
                     static_cast<long long>(done), static_cast<long long>(total), fps, left);
        if (last)
            std::fprintf(stderr, "\rrendered %lld frames in %.1f s (%.1f fps)       \n",
                         static_cast<long long>(total), elapsed, fps);
    }
};

// A fresh name in the temporary folder for the audio that ffmpeg reads.
std::string temporaryWavPath() {
    std::error_code error;
    const fs::path dir = fs::temp_directory_path(error);
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const fs::path path = dir / ("queltravine-render-" + std::to_string(stamp) + "-" +
                                     std::to_string(attempt) + ".wav");
        if (!fs::exists(path, error))
            return path.string();
    }
    fail("cannot find a free name for a temporary file in '" + dir.string() + "'");
}

// Encodes PNG frames on worker threads, one frame each, while the next frames
// are composed: compression costs far more than composing does. Frames go to
// the workers in turn; each file is independent, so order does not matter.
class PngWriter {
  public:
    void start() {
        const unsigned cores = std::thread::hardware_concurrency();
        workers_ = std::vector<Worker>(std::clamp(cores, 1u, 8u));
        for (Worker& worker : workers_) {
            worker.pixels.resize(kScreenPixels);
            worker.thread = std::thread([this, &worker] { run(worker); });
        }
    }

    void submit(std::string path, const Pixel* frame) {
        Worker& worker = workers_[next_];
        next_ = (next_ + 1) % workers_.size();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !worker.full || !error_.empty(); });
        if (!error_.empty()) {
            lock.unlock();
            failWithError();
        }
        std::memcpy(worker.pixels.data(), frame, VirtualBackBuffer::bytes);
        worker.path = std::move(path);
        worker.full = true;
        changed_.notify_all();
    }

    // Waits for the frames in flight; fails if any could not be written.
    void finish() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
            changed_.notify_all();
        }
        for (Worker& worker : workers_)
            worker.thread.join();
        workers_.clear();
        if (!error_.empty())
            failWithError();
    }

  private:
    struct Worker {
        std::vector<Pixel> pixels;
        std::string path;
        bool full = false;
        std::thread thread;
    };

    void run(Worker& worker) {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return worker.full || done_; });
            if (!worker.full)
                return;
            lock.unlock();
            std::string error;
            const bool ok = writeFramePng(worker.path, worker.pixels.data(), &error);
            lock.lock();
            if (!ok && error_.empty())
                error_ = "cannot write '" + worker.path + "': " + error;
            worker.full = false;
            changed_.notify_all();
        }
    }

    [[noreturn]] void failWithError() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
            changed_.notify_all();
        }
        for (Worker& worker : workers_) {
            if (worker.thread.joinable())
                worker.thread.join();
        }
        fail(error_);
    }

    std::vector<Worker> workers_;
    size_t next_ = 0;
    bool done_ = false;
    std::string error_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

uint32_t virtualClockMs = 0;
uint32_t virtualClock() {
    return virtualClockMs;
}

void renderFrames(const Options& options, const std::string& wavForVideo) {
    const RenderSchedule& schedule = options.schedule;
    backBuffer.assign(kScreenPixels, 0);
    SceneTimeline::inputs.backBuffer = backBuffer.data();
    for (int p = 0; p < Picture::count; ++p) {
        SceneTimeline::inputs.pictures[p] = pictureBuffers[p].data();
    }
    SceneTimeline::inputs.strip = stripBuffer.data();
    SceneTimeline::inputs.clock = virtualClock;

    FILE* log = nullptr;
    if (!options.logPath.empty()) {
        log = openOutput(options.logPath);
        std::fputs(
            "# frame clock_ms elapsedSeconds elapsedCentiseconds stepResidueA stepResidueB "
            "frameAccumulator scene\n",
            log);
    }
    Encoder encoder;
    std::vector<Pixel> scaled;
    if (!options.videoPath.empty()) {
        encoder = startEncoder(options, wavForVideo);
        if (options.scale > 1)
            scaled.resize(static_cast<size_t>(kScreenPixels) * options.scale * options.scale);
    }

    resetSynthesiser();
    audioProduced = 0;
    virtualClockMs = schedule.startMs;
    SceneTimeline::start();

    Progress progress;
    progress.shown = stderrIsTerminal();
    progress.started = secondsNow();
    PngWriter pngWriter;
    if (!options.framesDir.empty())
        pngWriter.start();
    for (int64_t k = 0; k < schedule.frames; ++k) {
        if (interrupted) {
            pngWriter.finish();
            fail("interrupted; unfinished outputs removed");
        }
        produceAudio(schedule, audioFramesBefore(schedule, k), [](const uint8_t*, int32_t) {});
        virtualClockMs = frameClockMs(schedule, k);
        SceneTimeline::composeFrame();

        if (log != nullptr) {
            const SceneTimeline::State& st = SceneTimeline::state;
            std::fprintf(log, "%lld %u %.9g %.9g %d %d %.9g %d\n", static_cast<long long>(k),
                         virtualClockMs, static_cast<double>(st.elapsedSeconds),
                         static_cast<double>(st.elapsedCentiseconds), st.residueA, st.residueB,
                         static_cast<double>(st.frameAccumulator), st.scene);
        }
        if (!options.framesDir.empty() && k % options.every == 0) {
            pngWriter.submit(joinPath(options.framesDir, frameFileName(k)), backBuffer.data());
        }
        if (encoder.input != nullptr) {
            const Pixel* frame = backBuffer.data();
            if (options.scale > 1) {
                scaleFrame(frame, static_cast<int>(options.scale), scaled.data());
                frame = scaled.data();
            }
            const size_t bytes = VirtualBackBuffer::bytes * options.scale * options.scale;
            if (std::fwrite(frame, 1, bytes, encoder.input) != bytes) {
                fail("ffmpeg stopped taking frames (its messages are above)");
            }
        }
        progress.update(k + 1, schedule.frames, false);
    }
    pngWriter.finish();
    if (log != nullptr) {
        finishOutput(log, options.logPath);
    }
    if (encoder.input != nullptr) {
        finishEncoder(encoder, options.videoPath);
    }
    progress.update(schedule.frames, schedule.frames, true);
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    checkOutputs(options);
    loadPictures(options.picturesDir);

#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);  // a dead ffmpeg shows as a failed write
#endif
    std::signal(SIGINT, [](int) { interrupted = 1; });
    std::signal(SIGTERM, [](int) { interrupted = 1; });
    audioBlock.resize(static_cast<size_t>(options.schedule.audioBlockBytes));

    // The audio comes first: it does not depend on the frames, and ffmpeg
    // reads it from a finished file while the frames stream in.
    std::string wavForVideo = options.wavPath;
    std::string temporaryWav;
    if (!options.wavPath.empty())
        writeWav(options.schedule, options.wavPath);
    if (!options.videoPath.empty() && wavForVideo.empty()) {
        temporaryWav = temporaryWavPath();
        partialFiles.push_back(temporaryWav);
        writeWav(options.schedule, temporaryWav);
        wavForVideo = temporaryWav;
    }
    if (!options.framesDir.empty() || !options.videoPath.empty() || !options.logPath.empty()) {
        renderFrames(options, wavForVideo);
    }
    if (!temporaryWav.empty())
        std::remove(temporaryWav.c_str());
    return 0;
}
