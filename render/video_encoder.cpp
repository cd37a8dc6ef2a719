#include "render/video_encoder.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "render/output_files.h"
#include "render/yuv_frame.h"

namespace fs = std::filesystem;

void scaleFrame(const Pixel* frame, int scale, Pixel* scaled) {
    const int scaledWidth = kScreenWidth * scale;
    for (int y = 0; y < kScreenHeight; ++y) {
        Pixel* first = scaled + static_cast<size_t>(y) * scale * scaledWidth;
        const Pixel* source = frame + y * kScreenWidth;
        for (int x = 0; x < kScreenWidth; ++x) {
            for (int s = 0; s < scale; ++s)
                first[x * scale + s] = source[x];
        }
        for (int s = 1; s < scale; ++s) {
            std::memcpy(first + static_cast<size_t>(s) * scaledWidth, first,
                        sizeof(Pixel) * scaledWidth);
        }
    }
}

bool hasVideoCodecDefaults(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == path.npos)
        return false;
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".mp4" || ext == ".mov" || ext == ".mkv" || ext == ".m4v";
}

bool sendsYuvFrames(const VideoSettings& settings) {
    return !settings.lossless && hasVideoCodecDefaults(settings.path);
}

namespace {

// Written into the stream and the container, so that players neither guess
// the matrix from the frame size nor stretch the range. A 4:2:0 chroma
// sample stands for its whole 2x2 block: sited at its centre.
std::vector<std::string> bt709Tags(const VideoSettings& settings) {
    std::vector<std::string> tags = {"-color_range",     "tv",    "-colorspace", "bt709",
                                     "-color_primaries", "bt709", "-color_trc",  "bt709"};
    if (!settings.chroma444)
        tags.insert(tags.end(), {"-chroma_sample_location", "center"});
    return tags;
}

const char* yuvFormat(const VideoSettings& settings) {
    return settings.chroma444 ? "yuv444p" : "yuv420p";
}

}  // namespace

std::vector<std::string> videoInputArguments(const VideoSettings& settings) {
    const std::string size = std::to_string(kScreenWidth * settings.scale) + "x" +
                             std::to_string(kScreenHeight * settings.scale);
    std::vector<std::string> args = {"-f",      "rawvideo",   "-video_size",
                                     size,      "-framerate", std::to_string(settings.fps),
                                     "-pix_fmt"};
    if (sendsYuvFrames(settings)) {
        args.push_back(yuvFormat(settings));
        const std::vector<std::string> tags = bt709Tags(settings);
        args.insert(args.end(), tags.begin(), tags.end());
    } else {
        args.push_back("bgr0");
    }
    return args;
}

std::vector<std::string> videoCodecArguments(const VideoSettings& settings) {
    if (settings.lossless) {
        // The audio stays at the synthesiser's own rate, sample for sample.
        return {"-c:v",    "ffv1", "-level",   "3",    "-g",   "1",
                "-slices", "4",    "-pix_fmt", "bgr0", "-c:a", "flac"};
    }
    std::vector<std::string> args;
    if (hasVideoCodecDefaults(settings.path)) {
        const int crf = settings.crf >= 0    ? settings.crf
                        : settings.chroma444 ? kDefault444Crf
                                             : kDefaultVideoCrf;
        args = {"-c:v",     "libx264",
                "-preset",  settings.preset,
                "-crf",     std::to_string(crf),
                "-refs",    std::to_string(kDefaultVideoReferences),
                "-bf",      "0",
                "-pix_fmt", yuvFormat(settings)};
        if (settings.chroma444)
            args.insert(args.end(), {"-tune", "psnr"});
        const std::vector<std::string> tags = bt709Tags(settings);
        args.insert(args.end(), tags.begin(), tags.end());
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "192k"});
    }
    args.insert(args.end(), {"-ar", "48000"});
    return args;
}

#ifdef _WIN32

const char* videoUnavailableReason() {
    return "--video is not available in the Windows build: write --frames and --wav, then encode";
}
void startVideoEncoder(const VideoSettings&, const std::string&) {}
void encodeVideoFrame(const Pixel*) {}
void finishVideoEncoder() {}

#else

namespace {

FILE* encoderInput = nullptr;
pid_t encoderPid = -1;
std::string encodedPath;
int encoderScale = 1;
bool encoderTakesYuv = false;
bool encoderTakes444 = false;
std::vector<Pixel> scaledFrame;
std::vector<uint8_t> yuvFrame;

bool findProgram(const char* program) {
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

}  // namespace

const char* videoUnavailableReason() {
    if (!findProgram("ffmpeg"))
        return "--video needs the ffmpeg program, which is not installed (Debian package 'ffmpeg')";
    return nullptr;
}

void startVideoEncoder(const VideoSettings& settings, const std::string& wavPath) {
    const int scale = settings.scale;
    // The file: prefix makes every path a file name, even one that begins
    // with a dash or holds a colon.
    const std::string output = reservePartialFile(settings.path);
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel",
                                     "error",  "-nostdin",     "-y"};
    const std::vector<std::string> input = videoInputArguments(settings);
    args.insert(args.end(), input.begin(), input.end());
    args.insert(args.end(), {"-i", "pipe:0", "-i", "file:" + wavPath});
    const std::vector<std::string> codec = videoCodecArguments(settings);
    args.insert(args.end(), codec.begin(), codec.end());
    args.push_back("file:" + output);

    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        failRender(std::string("cannot start ffmpeg: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int status = posix_spawnp(&encoderPid, "ffmpeg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[0]);
    if (status != 0)
        failRender(std::string("cannot start ffmpeg: ") + std::strerror(status));
    encoderInput = ::fdopen(pipeEnds[1], "wb");
    if (encoderInput == nullptr)
        failRender(std::string("cannot start ffmpeg: ") + std::strerror(errno));
    encodedPath = settings.path;
    encoderScale = scale;
    encoderTakesYuv = sendsYuvFrames(settings);
    encoderTakes444 = settings.chroma444;
    if (encoderTakesYuv)
        yuvFrame.resize(encoderTakes444 ? yuv444FrameBytes(scale) : yuv420FrameBytes(scale));
    else if (scale > 1)
        scaledFrame.resize(static_cast<size_t>(kScreenPixels) * scale * scale);
}

void encodeVideoFrame(const Pixel* frame) {
    const void* data = frame;
    size_t bytes = VirtualBackBuffer::bytes * static_cast<size_t>(encoderScale) * encoderScale;
    if (encoderTakesYuv) {
        if (encoderTakes444)
            convertFrameToYuv444(frame, encoderScale, yuvFrame.data());
        else
            convertFrameToYuv420(frame, encoderScale, yuvFrame.data());
        data = yuvFrame.data();
        bytes = yuvFrame.size();
    } else if (encoderScale > 1) {
        scaleFrame(frame, encoderScale, scaledFrame.data());
        data = scaledFrame.data();
    }
    if (std::fwrite(data, 1, bytes, encoderInput) != bytes) {
        stopIfInterrupted();
        failRender("ffmpeg stopped taking frames (its messages are above)");
    }
}

void finishVideoEncoder() {
    const bool flushed = std::fflush(encoderInput) == 0 && !std::ferror(encoderInput);
    std::fclose(encoderInput);
    encoderInput = nullptr;
    int status = 0;
    while (::waitpid(encoderPid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!flushed || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failRender("ffmpeg failed to encode '" + encodedPath + "' (its messages are above)");
    }
    renameFinished(encodedPath);
}

#endif
