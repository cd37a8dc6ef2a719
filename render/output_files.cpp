#include "render/output_files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

volatile std::sig_atomic_t renderInterrupted = 0;

namespace {

std::vector<std::string> partialFiles;

}  // namespace

void failRender(const std::string& message) {
    std::fprintf(stderr, "\nqueltravine-render: %s\n", message.c_str());
    for (const std::string& path : partialFiles)
        std::remove(path.c_str());
    std::exit(1);
}

void trackPartialFile(const std::string& path) {
    partialFiles.push_back(path);
}

void forgetPartialFile(const std::string& path) {
    std::erase(partialFiles, path);
}

std::string partialName(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == path.npos || (slash != path.npos && dot < slash) || dot == slash + 1) {
        return path + ".partial";
    }
    return path.substr(0, dot) + ".partial" + path.substr(dot);
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool pathExists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

FILE* openOutput(const std::string& path) {
    const std::string partial = partialName(path);
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr)
        failRender("cannot write '" + partial + "': " + std::strerror(errno));
    trackPartialFile(partial);
    return file;
}

void finishOutput(FILE* file, const std::string& path) {
    const std::string partial = partialName(path);
    if (std::fflush(file) != 0 || std::ferror(file) || std::fclose(file) != 0) {
        failRender("cannot write '" + partial + "': " + std::strerror(errno));
    }
    renameFinished(path);
}

void renameFinished(const std::string& path) {
    const std::string partial = partialName(path);
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        failRender("cannot rename '" + partial + "' to '" + path + "': " + std::strerror(errno));
    }
    forgetPartialFile(partial);
}

void writeAll(FILE* file, const void* data, size_t bytes, const std::string& what) {
    if (bytes != 0 && std::fwrite(data, 1, bytes, file) != bytes) {
        failRender("cannot write " + what + ": " + std::strerror(errno));
    }
}

std::string temporaryPath(const std::string& suffix) {
    std::error_code error;
    const fs::path dir = fs::temp_directory_path(error);
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const fs::path path = dir / ("queltravine-render-" + std::to_string(stamp) + "-" +
                                     std::to_string(attempt) + suffix);
        if (!fs::exists(path, error))
            return path.string();
    }
    failRender("cannot find a free name for a temporary file in '" + dir.string() + "'");
}
