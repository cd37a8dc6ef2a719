#include "render/output_check.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "render/output_files.h"
#include "render/video_encoder.h"

namespace fs = std::filesystem;

void checkOutputs(const RenderOptions& options) {
    const auto refuse = [](const std::string& path) {
        failRender("'" + path + "' exists; use --force to overwrite it");
    };
    // A FIFO, a terminal or a device is written into as it is and needs no
    // --force; only regular files are ever replaced.
    const auto check = [&](const std::string& path) {
        if (path.empty() || path == "-")
            return;
        std::error_code error;
        if (fs::is_directory(path, error))
            failRender("'" + path + "' is a folder, not a file");
        if (isStraightOutput(path))
            return;
        if (!options.force && pathExists(path))
            refuse(path);
    };
    for (const std::string* path : fileOutputs(options))
        check(*path);
    if (options.videoPath == "-")
        failRender("--video needs a file name: a video cannot go to standard output");
    // Two outputs into one file would leave one of them lost.
    std::vector<fs::path> named;
    for (const std::string* path : fileOutputs(options)) {
        if (path->empty() || *path == "-")
            continue;
        std::error_code error;
        const fs::path resolved = fs::weakly_canonical(fs::absolute(*path, error), error);
        if (std::find(named.begin(), named.end(), resolved) != named.end())
            failRender("'" + *path + "' is named for two outputs");
        named.push_back(resolved);
    }
    int toStandardOutput = 0;
    for (const std::string* path : fileOutputs(options))
        toStandardOutput += *path == "-" ? 1 : 0;
    if (toStandardOutput > 1)
        failRender("only one output can go to standard output ('-')");
    if (!options.framesDir.empty()) {
        std::error_code error;
        if (pathExists(options.framesDir)) {
            if (!fs::is_directory(options.framesDir, error)) {
                failRender("'" + options.framesDir + "' is not a folder");
            }
            const int64_t every = options.every;
            for (int64_t k = (options.schedule.firstFrame + every - 1) / every * every;
                 k < options.schedule.frames; k += every) {
                stopIfInterrupted();  // an hour's frames are many files to look at
                check(joinPath(options.framesDir, frameFileName(k)));
            }
        } else if (!fs::create_directories(options.framesDir, error)) {
            failRender("cannot create the folder '" + options.framesDir + "': " + error.message());
        }
    }
    if (!options.videoPath.empty()) {
        if (const char* reason = videoUnavailableReason())
            failRender(reason);
    }
}
