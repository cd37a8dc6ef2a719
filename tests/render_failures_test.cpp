// The renderer when things go wrong: a full disk, an interrupt, a dead
// encoder, outputs that are not regular files. Whatever happens, no file
// under a final name is cut short and no temporary file is left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "pictures/show_pictures.h"
#include "render/output_files.h"
#include "tests/render_files.h"
#include "tests/wait_until.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

bool isWholeFramePng(const fs::path& path) {
    uint32_t width = 0;
    uint32_t height = 0;
    return !readPng(path, &width, &height).empty() && width == 640 && height == 480;
}

// Where the kernel has process pid waiting: "wait_for_partner" for a FIFO's
// open, "pipe_write" (or "anon_pipe_write") for a write to a full pipe.
std::string kernelWait(pid_t pid) {
    return readFile("/proc/" + std::to_string(pid) + "/wchan");
}

// Checks every file in a frames folder is a whole PNG; returns how many.
int expectOnlyWholeFrames(const fs::path& frames) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(frames)) {
        EXPECT_TRUE(isWholeFramePng(entry.path())) << entry.path();
        ++count;
    }
    return count;
}

class RenderFailures : public TestFolder {
  protected:
    // Runs a shell command line with the renderer as $R and the pictures as $P,
    // in dir; returns the exit status and what went to standard error.
    int shell(const std::string& line, std::string* err = nullptr) const {
        const fs::path errPath = dir / "stderr.txt";
        const std::string command = "cd '" + dir.string() + "' && R='" + RENDER_EXE + "' P='" +
                                    DATA_DIR + "' sh -c '" + line + "' 2>'" + errPath.string() +
                                    "'";
        const int raw = std::system(command.c_str());
        if (err != nullptr)
            *err = readFile(errPath);
        fs::remove(errPath);
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    // Starts the renderer in the background with the pictures and args; its
    // standard error goes to stderr.txt in dir, or to standardError.
    pid_t start(const std::vector<std::string>& args, const std::string& pictures = DATA_DIR,
                int standardError = -1) const {
        std::vector<std::string> all = {RENDER_EXE, "--pictures", pictures};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (standardError >= 0)
            posix_spawn_file_actions_adddup2(&actions, standardError, 2);
        else
            posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr.txt").c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, RENDER_EXE, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    // The exit status; -1 for a signal, -2 for a renderer that hung and was
    // killed.
    static int waitFor(pid_t pid) {
        int raw = 0;
        if (!waitUntil([&] { return waitpid(pid, &raw, WNOHANG) == pid; })) {
            kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            return -2;
        }
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
};

// A file system of 3 MB fills after a few frames: the render fails naming
// the frame and the reason, and every frame left is a whole picture.
TEST_F(RenderFailures, FullDiskLeavesOnlyWholeFrames) {
    const fs::path small = dir / "small";
    fs::create_directories(small);
    if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=3m") != 0)
        GTEST_SKIP() << "needs root to mount a small file system";
    struct Unmount {
        const fs::path& at;
        ~Unmount() { umount(at.c_str()); }
    } unmount{small};
    std::string err;
    const int status = shell("$R --pictures $P --seconds 60 --fps 4 --frames small/frames", &err);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("cannot write 'small/frames/frame-"), std::string::npos) << err;
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    EXPECT_GT(expectOnlyWholeFrames(small / "frames"), 0);
    EXPECT_EQ(partialFilesUnder(small), std::vector<std::string>{});

    // The same for a WAV, and a log, that do not fit.
    fs::remove_all(small / "frames");
    EXPECT_EQ(shell("$R --pictures $P --seconds 60 --wav small/a.wav", &err), 1);
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    std::ofstream(small / "filler") << std::string(2800 * 1024, 'x');
    EXPECT_EQ(shell("$R --pictures $P --seconds 20 --fps 1000 --log small/a.log", &err), 1);
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(small / "a.wav"));
    EXPECT_FALSE(fs::exists(small / "a.log"));
    EXPECT_EQ(partialFilesUnder(small), std::vector<std::string>{});
}

// SIGINT in the middle of the frames: the render ends with status 1 and
// says so; the frames already written are whole, the log is removed.
TEST_F(RenderFailures, InterruptLeavesOnlyWholeFiles) {
    const pid_t pid = start({"--seconds", "600", "--fps", "30", "--frames", (dir / "f").string(),
                             "--log", (dir / "a.log").string()});
    // Two frames whole means the writers are at work on the next ones.
    ASSERT_TRUE(waitUntil([&] {
        std::error_code error;
        auto files = fs::directory_iterator(dir / "f", error);
        return !error && std::distance(files, fs::directory_iterator()) >= 2;
    }));
    kill(pid, SIGINT);
    EXPECT_EQ(waitFor(pid), 1);
    EXPECT_NE(readFile(dir / "stderr.txt").find("interrupted"), std::string::npos);
    EXPECT_GT(expectOnlyWholeFrames(dir / "f"), 0);
    EXPECT_FALSE(fs::exists(dir / "a.log"));
    EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});

    // During the audio, which comes first: once its file has begun.
    const pid_t audio = start({"--seconds", "20000", "--wav", (dir / "a.wav").string()});
    const auto audioBegun = [&] {
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().filename().string().rfind("a.partial-", 0) == 0)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(waitUntil(audioBegun));
    kill(audio, SIGTERM);
    EXPECT_EQ(waitFor(audio), 1);
    EXPECT_NE(readFile(dir / "stderr.txt").find("interrupted"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "a.wav"));
    EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});

    // Waiting for a FIFO's reader that never comes.
    ASSERT_EQ(mkfifo((dir / "unread.fifo").c_str(), 0600), 0);
    const pid_t waiting = start({"--seconds", "1", "--log", (dir / "unread.fifo").string()});
    ASSERT_TRUE(waitUntil([&] { return kernelWait(waiting) == "wait_for_partner"; }))
        << kernelWait(waiting);
    kill(waiting, SIGINT);
    EXPECT_EQ(waitFor(waiting), 1);
    EXPECT_NE(readFile(dir / "stderr.txt").find("interrupted"), std::string::npos);
    EXPECT_TRUE(fs::is_fifo(dir / "unread.fifo"));
}

// A Ctrl-C while the pictures load ends the render there. The renderer is
// held inside the first picture by a full standard error (a picture that is
// not a JPEG has its message written there), and the second picture is
// missing: a renderer that went on would say so instead.
TEST_F(RenderFailures, InterruptWhileLoadingPictures) {
    const fs::path pictures = dir / "pictures";
    fs::create_directories(pictures);
    std::ofstream(pictures / kPictureFiles[0]) << "not a picture";
    int err[2];
    ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
    fcntl(err[1], F_SETFL, O_NONBLOCK);
    while (write(err[1], ".", 1) == 1) {  // to the last byte: the next write waits
    }
    fcntl(err[1], F_SETFL, 0);
    const pid_t pid =
        start({"--seconds", "1", "--log", (dir / "a.log").string()}, pictures.string(), err[1]);
    close(err[1]);

    const bool held =
        waitUntil([&] { return kernelWait(pid).find("pipe_write") != std::string::npos; });
    kill(pid, SIGINT);
    std::string said;
    char chunk[4096];
    pollfd readable{err[0], POLLIN, 0};
    while (poll(&readable, 1, 120'000) > 0) {
        const ssize_t got = read(err[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        said.append(chunk, static_cast<size_t>(got));
    }
    close(err[0]);
    EXPECT_TRUE(held) << kernelWait(pid);
    EXPECT_EQ(waitFor(pid), 1);
    said.erase(0, said.find_first_not_of('.'));
    EXPECT_NE(said.find("interrupted"), std::string::npos) << said;
    EXPECT_EQ(said.find(kPictureFiles[1]), std::string::npos) << said;
    EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});
}

// A failure of the main thread's output while the frame writers are busy:
// the frames they were writing are removed too. The log goes down a FIFO
// whose reader leaves after 100 bytes.
TEST_F(RenderFailures, FailureWhileFramesAreBeingWrittenLeavesNoPartialFrame) {
    ASSERT_EQ(mkfifo((dir / "log.fifo").c_str(), 0600), 0);
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        fs::remove_all(dir / "f");
        std::string err;
        EXPECT_EQ(shell("head -c 100 log.fifo > /dev/null & $R --pictures $P --seconds 100 "
                        "--fps 60 --frames f --log log.fifo; s=$?; wait; exit $s",
                        &err),
                  1);
        EXPECT_NE(err.find("cannot write 'log.fifo'"), std::string::npos) << err;
        if (fs::exists(dir / "f"))
            expectOnlyWholeFrames(dir / "f");
        EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});
    }
}

// ffmpeg killed mid-way: the render fails and leaves no video at all.
TEST_F(RenderFailures, EncoderDeathLeavesNoVideo) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    const pid_t pid =
        start({"--seconds", "120", "--fps", "30", "--video", (dir / "demo.mp4").string()});
    // ffmpeg starts once the audio is made: seconds in a sanitizer's build.
    pid_t encoder = -1;
    const std::string command =
        "pgrep -P " + std::to_string(pid) + " ffmpeg > '" + (dir / "pid.txt").string() + "'";
    ASSERT_TRUE(waitUntil([&] {
        if (std::system(command.c_str()) == 0)
            encoder = std::atoi(readFile(dir / "pid.txt").c_str());
        return encoder > 0;
    }));
    // Mid-way: ffmpeg has taken a few frames' worth of bytes.
    const std::string io = "/proc/" + std::to_string(encoder) + "/io";
    ASSERT_TRUE(waitUntil([&] {
        const std::string text = readFile(io);
        const size_t at = text.find("rchar: ");
        return at != text.npos && std::atoll(text.c_str() + at + 7) > 4 * 640 * 480 * 4;
    }));
    kill(encoder, SIGKILL);
    EXPECT_EQ(waitFor(pid), 1);
    EXPECT_NE(readFile(dir / "stderr.txt").find("ffmpeg"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "demo.mp4"));
    fs::remove(dir / "pid.txt");
    EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});
}

// A FIFO named as an output is written into, with --force or without, and
// stays a FIFO; "-" sends the WAV or the log to standard output.
TEST_F(RenderFailures, OutputsThatAreNotRegularFilesAreWrittenIntoNeverReplaced) {
    ASSERT_EQ(shell("$R --pictures $P --seconds 3 --fps 5 --log plain.log --wav plain.wav"), 0);
    ASSERT_EQ(mkfifo((dir / "log.fifo").c_str(), 0600), 0);
    for (const char* force : {"", " --force"}) {
        SCOPED_TRACE(force);
        std::string err;
        EXPECT_EQ(shell(std::string("cat log.fifo > got.log & $R --pictures $P --seconds 3 --fps 5 "
                                    "--log log.fifo") +
                            force + "; s=$?; wait; exit $s",
                        &err),
                  0)
            << err;
        EXPECT_TRUE(fs::is_fifo(dir / "log.fifo"));
        EXPECT_EQ(readFile(dir / "got.log"), readFile(dir / "plain.log"));
    }
    std::string err;
    EXPECT_EQ(shell("$R --pictures $P --seconds 3 --wav - > piped.wav", &err), 0) << err;
    EXPECT_EQ(readFile(dir / "piped.wav"), readFile(dir / "plain.wav"));
    EXPECT_EQ(shell("$R --pictures $P --seconds 3 --fps 5 --log - | cat > piped.log", &err), 0)
        << err;
    EXPECT_EQ(readFile(dir / "piped.log"), readFile(dir / "plain.log"));

    EXPECT_EQ(shell("$R --pictures $P --seconds 3 --wav - --log -", &err), 1);
    EXPECT_NE(err.find("only one output can go to standard output"), std::string::npos) << err;
    EXPECT_EQ(shell("$R --pictures $P --seconds 3 --force --wav .", &err), 1);
    EXPECT_NE(err.find("'.' is a folder"), std::string::npos) << err;
    EXPECT_EQ(shell("$R --pictures $P --seconds 3 --log x.txt --crc ./x.txt", &err), 1);
    EXPECT_NE(err.find("'./x.txt' is named for two outputs"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "x.txt"));
    EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});
}

// A picture that is a FIFO with no writer ends the render at once.
TEST_F(RenderFailures, PictureThatIsAFifoIsReportedNotWaitedOn) {
    fs::create_directories(dir / "pictures");
    for (const char* name : kPictureFiles) {
        if (std::string_view(name) != "part2.jpg")
            fs::copy_file(fs::path(DATA_DIR) / name, dir / "pictures" / name);
    }
    fs::copy_file(fs::path(DATA_DIR) / kStripFile, dir / "pictures" / kStripFile);
    ASSERT_EQ(mkfifo((dir / "pictures" / "part2.jpg").c_str(), 0600), 0);
    std::string err;
    EXPECT_EQ(shell("$R --pictures pictures --seconds 1 --wav a.wav", &err), 1);
    EXPECT_NE(err.find("pictures/part2.jpg: is a FIFO, not a regular file"), std::string::npos)
        << err;
    EXPECT_NE(err.find("pictures/part2.jpg: ERROR LOCATING..."), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "a.wav"));
}

// A path that begins with a dash is a file name to ffmpeg, not an option.
TEST_F(RenderFailures, VideoPathBeginningWithADashIsAFile) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    std::string err;
    EXPECT_EQ(shell("$R --pictures $P --seconds 1 --fps 5 --video=-y.mp4", &err), 0) << err;
    EXPECT_GT(fs::file_size(dir / "-y.mp4"), 1000u);
    EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});
}

// Temporary files are made afresh beside their output, never reused.
TEST_F(RenderFailures, PartialFilesAreNewFilesBesideTheirOutput) {
    std::string error;
    const std::string target = (dir / "out.mp4").string();
    int fd = -1;
    const std::string first = createPartialFile(target, &fd, &error);
    const std::string second = createPartialFile(target, nullptr, &error);
    ASSERT_FALSE(first.empty()) << error;
    ASSERT_FALSE(second.empty()) << error;
    EXPECT_NE(first, second);
    EXPECT_EQ(fs::path(first).parent_path(), dir);
    EXPECT_EQ(fs::path(first).extension(), ".mp4");
    EXPECT_EQ(fs::path(first).filename().string().rfind("out.partial-", 0), 0u) << first;
    EXPECT_GE(fd, 0);
    close(fd);
    // In a folder that does not exist: the reason, and nothing made.
    EXPECT_EQ(createPartialFile((dir / "none" / "x.png").string(), nullptr, &error), "");
    EXPECT_EQ(error, "No such file or directory");

    // writeWholeFile puts a new file in place of a regular one (a second
    // link to the old file keeps the old bytes: it was never written into)
    // and writes into a FIFO as it is.
    const std::string file = (dir / "frame.png").string();
    std::ofstream(file) << "old";
    fs::create_hard_link(file, dir / "link.png");
    ASSERT_TRUE(writeWholeFile(file, "new bytes", 9, &error)) << error;
    EXPECT_EQ(readFile(file), "new bytes");
    EXPECT_EQ(readFile(dir / "link.png"), "old");
    const std::string fifo = (dir / "frame.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string fromFifo;
    std::thread reader([&] { fromFifo = readFile(fifo); });
    EXPECT_TRUE(writeWholeFile(fifo, "through", 7, &error)) << error;
    reader.join();
    EXPECT_EQ(fromFifo, "through");
    EXPECT_TRUE(fs::is_fifo(fifo));
    fs::remove(first);
    fs::remove(second);
    EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});
}

}  // namespace
