#include "render/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

volatile std::sig_atomic_t renderInterrupted = 0;

namespace {

#ifdef _WIN32
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_BINARY;
constexpr int kStraightFlags = O_WRONLY | O_BINARY;
constexpr int kFileMode = S_IREAD | S_IWRITE;
#else
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
constexpr int kStraightFlags = O_WRONLY | O_CLOEXEC;
constexpr int kFileMode = 0666;  // less the umask, as for any new file
#endif

// The PNG workers add and remove their files here too, so failRender can
// remove every unfinished file whichever thread is still writing.
std::mutex partialFilesMutex;
std::vector<std::string> partialFiles;
// Each output of the main thread and the temporary file it is written under.
std::vector<std::pair<std::string, std::string>> outputs;

std::string randomLetters() {
    static std::mutex mutex;
    static std::random_device device;
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::lock_guard lock(mutex);
    std::string letters(6, 'a');
    for (char& c : letters)
        c = kLetters[device() % (sizeof kLetters - 1)];
    return letters;
}

bool writeDescriptor(int fd, const void* data, size_t bytes) {
    const auto* next = static_cast<const char*>(data);
    while (bytes > 0) {
        const auto chunk = static_cast<unsigned>(std::min<size_t>(bytes, 1u << 30));
        const auto written = ::write(fd, next, chunk);
        if (written < 0 && errno == EINTR && !renderInterrupted)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        next += written;
        bytes -= static_cast<size_t>(written);
    }
    return true;
}

std::string reason() {
    return std::generic_category().message(errno);
}

// Set when a signal cut a blocking call short: the render is to stop.
bool interruptedCall() {
    return errno == EINTR && renderInterrupted;
}

constexpr const char* kInterruptedMessage = "interrupted; unfinished outputs removed";

}  // namespace

void failRender(const std::string& message) {
    // The lock is kept: a frame writer still at work can neither add a file
    // nor rename one over its final name from here on. The process ends
    // without running destructors under the feet of those threads.
    partialFilesMutex.lock();
    std::fprintf(stderr, "\nqueltravine-render: %s\n", message.c_str());
    for (const std::string& path : partialFiles)
        std::remove(path.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

void stopIfInterrupted() {
    if (renderInterrupted)
        failRender(kInterruptedMessage);
}

void trackPartialFile(const std::string& path) {
    std::lock_guard lock(partialFilesMutex);
    partialFiles.push_back(path);
}

void forgetPartialFile(const std::string& path) {
    std::lock_guard lock(partialFilesMutex);
    std::erase(partialFiles, path);
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string frameFileName(int64_t k) {
    char name[40];
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(k));
    return name;
}

bool pathExists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

const char* specialFileKind(const std::string& path) {
    std::error_code error;
    switch (fs::status(path, error).type()) {
        case fs::file_type::not_found:
        case fs::file_type::none:
        case fs::file_type::regular:
            return nullptr;
        case fs::file_type::directory:
            return "a folder";
        case fs::file_type::fifo:
            return "a FIFO";
        case fs::file_type::socket:
            return "a socket";
        case fs::file_type::character:
        case fs::file_type::block:
            return "a device";
        default:
            return "not a regular file";
    }
}

bool isStraightOutput(const std::string& path) {
    return path == "-" || specialFileKind(path) != nullptr;
}

std::string createPartialFile(const std::string& path, int* fd, std::string* error) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    const bool hasExtension = dot != path.npos && (slash == path.npos || dot > slash + 1);
    const std::string stem = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : "";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = stem + ".partial-" + randomLetters() + extension;
        const int opened = ::open(name.c_str(), kCreateFlags, kFileMode);
        if (opened >= 0) {
            if (fd != nullptr)
                *fd = opened;
            else
                ::close(opened);
            return name;
        }
        if (errno != EEXIST)
            break;
    }
    *error = reason();
    return "";
}

namespace {

// Makes path's temporary file and records it as path's; fails the render if
// it cannot.
std::string startPartialOutput(const std::string& path, int* fd) {
    std::string error;
    const std::string partial = createPartialFile(path, fd, &error);
    if (partial.empty())
        failRender("cannot write '" + path + "': " + error);
    trackPartialFile(partial);
    outputs.emplace_back(path, partial);
    return partial;
}

}  // namespace

FILE* openOutput(const std::string& path) {
    if (path == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);  // a WAV's bytes, not text
#endif
        return stdout;
    }
    if (const char* kind = specialFileKind(path)) {
        // A FIFO's open waits for a reader; Ctrl-C ends the wait. One that
        // lands between this check and the open is taken at the next Ctrl-C.
        stopIfInterrupted();
        const int fd = ::open(path.c_str(), kStraightFlags);
        if (fd < 0 && interruptedCall())
            failRender(kInterruptedMessage);
        FILE* file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (file == nullptr)
            failRender("cannot write '" + path + "' (" + kind + "): " + reason());
        outputs.emplace_back(path, path);
        return file;
    }
    int fd = -1;
    startPartialOutput(path, &fd);
    FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr)
        failRender("cannot write '" + path + "': " + reason());
    return file;
}

void finishOutput(FILE* file, const std::string& path) {
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    if (!flushed || (file != stdout && std::fclose(file) != 0))
        failRender("cannot write '" + path + "': " + reason());
    renameFinished(path);
}

void writeAll(FILE* file, const void* data, size_t bytes, const std::string& what) {
    if (bytes != 0 && std::fwrite(data, 1, bytes, file) != bytes) {
        if (interruptedCall())
            failRender(kInterruptedMessage);
        failRender("cannot write " + what + ": " + reason());
    }
}

std::string partialFileOf(const std::string& path) {
    for (const auto& [output, partial] : outputs) {
        if (output == path)
            return partial;
    }
    return path;
}

std::string reservePartialFile(const std::string& path) {
    if (isStraightOutput(path)) {
        outputs.emplace_back(path, path);
        return path;
    }
    return startPartialOutput(path, nullptr);
}

void renameFinished(const std::string& path) {
    const std::string partial = partialFileOf(path);
    if (partial != path) {
        std::error_code error;
        fs::rename(partial, path, error);
        if (error)
            failRender("cannot rename '" + partial + "' to '" + path + "': " + error.message());
        forgetPartialFile(partial);
    }
    const auto done = std::find_if(outputs.begin(), outputs.end(),
                                   [&](const auto& o) { return o.first == path; });
    if (done != outputs.end())
        outputs.erase(done);
}

bool writeWholeFile(const std::string& path, const void* data, size_t bytes, std::string* error) {
    if (const char* kind = specialFileKind(path)) {
        const int fd = ::open(path.c_str(), kStraightFlags);
        const bool ok = fd >= 0 && writeDescriptor(fd, data, bytes);
        if (!ok)
            *error = std::string(kind) + ": " + reason();
        if (fd >= 0 && ::close(fd) != 0 && ok) {
            *error = reason();
            return false;
        }
        return ok;
    }
    int fd = -1;
    std::string partial;
    {
        std::lock_guard lock(partialFilesMutex);
        partial = createPartialFile(path, &fd, error);
        if (partial.empty())
            return false;
        partialFiles.push_back(partial);
    }
    bool ok = writeDescriptor(fd, data, bytes);
    if (!ok)
        *error = reason();
    if (::close(fd) != 0 && ok) {
        *error = reason();
        ok = false;
    }
    std::lock_guard lock(partialFilesMutex);
    if (ok) {
        std::error_code renameError;
        fs::rename(partial, path, renameError);
        if (renameError) {
            *error = "cannot rename '" + partial + "' to it: " + renameError.message();
            ok = false;
        }
    }
    if (!ok)
        std::remove(partial.c_str());
    std::erase(partialFiles, partial);
    return ok;
}

std::string temporaryPath(const std::string& suffix) {
    std::error_code error;
    const fs::path dir = fs::temp_directory_path(error);
    std::string reasonText;
    const std::string path =
        createPartialFile((dir / ("queltravine-render" + suffix)).string(), nullptr, &reasonText);
    if (path.empty())
        failRender("cannot make a temporary file in '" + dir.string() + "': " + reasonText);
    trackPartialFile(path);
    return path;
}
