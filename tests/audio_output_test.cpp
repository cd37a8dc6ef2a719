// The audio output on SDL's disk driver, which writes what the device plays
// to a file as fast as the callback fills it, and on a PulseAudio server of
// the test's own, killed and started again while it plays. Also run under
// ThreadSanitizer: the device thread fills while this thread reads the
// published residues, and the watch thread closes and opens devices.
#include <SDL.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/audio_feed.h"
#include "platform/audio_output.h"
#include "synth/synthesiser.h"
#include "tests/wait_until.h"

namespace {

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The residue pairs published, read as the frame loop reads them, until
// `distinct` of them are seen (or the wait's deadline passes).
std::set<std::pair<int32_t, int32_t>> residuesUntil(size_t distinct) {
    std::set<std::pair<int32_t, int32_t>> seen;
    waitUntil(
        [&] {
            seen.emplace(stepResidueA.load(std::memory_order_relaxed),
                         stepResidueB.load(std::memory_order_relaxed));
            return seen.size() >= distinct;
        },
        std::chrono::seconds(120), std::chrono::microseconds(200));
    return seen;
}

// What the device should play: the synthesiser's stream from the start, in
// whole blocks, doubled by the project's upsampler from the stream's start.
std::vector<uint8_t> expectedDeviceBytes(size_t atLeast,
                                         std::set<std::pair<int32_t, int32_t>>& published) {
    resetSynthesiser();
    auto feed = std::make_unique<AudioFeed>();
    resetAudioFeed(*feed);
    std::vector<uint8_t> out;
    while (out.size() < atLeast) {
        const size_t old = out.size();
        out.resize(old + kAudioFeedBlockFrames * 4);
        // One block a call.
        feedAudio(*feed, reinterpret_cast<int16_t*>(out.data() + old), kAudioFeedBlockFrames);
        published.emplace(stepResidueA.load(), stepResidueB.load());
    }
    return out;
}

TEST(AudioOutput, TwoStartsPlayOneContinuousStreamInWholeBlocks) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("queltravine-audio-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto file = folder / "device.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    resetSynthesiser();

    startAudio();
    startAudio();  // finds the stream playing and leaves it
    // Read what the fills publish while they run, as the frame loop does.
    std::set<std::pair<int32_t, int32_t>> seen = residuesUntil(5);
    stopAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);  // the next test picks its own driver
    seen.erase({0, 0});
    EXPECT_GT(seen.size(), 3u);

    // One device played throughout: the file is one unbroken stream.
    std::vector<uint8_t> played = readFile(file);
    std::filesystem::remove_all(folder);
    // A device being closed may write one last buffer of silence after the
    // final fill; what matters is the sound before it.
    const auto lastSound =
        std::find_if(played.rbegin(), played.rend(), [](uint8_t b) { return b != 0; });
    played.resize((played.size() - static_cast<size_t>(lastSound - played.rbegin()) + 3) / 4 * 4);
    std::set<std::pair<int32_t, int32_t>> published;
    const std::vector<uint8_t> expected = expectedDeviceBytes(played.size() + 400000, published);
    // Residues change only at the ends of whole 40,000-byte blocks.
    for (const auto& pair : seen) {
        EXPECT_TRUE(published.contains(pair)) << pair.first << ", " << pair.second;
    }
    // A device plays whole buffers of silence (1024 frames) until it is
    // unpaused; then the stream from its very start, the upsampler's lag
    // included, as the renderer's 44100 Hz WAV has it.
    const auto firstSound = [](const std::vector<uint8_t>& bytes) {
        return static_cast<size_t>(
            std::find_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; }) -
            bytes.begin());
    };
    ASSERT_GE(firstSound(played), firstSound(expected));
    const size_t silence = firstSound(played) - firstSound(expected);
    EXPECT_EQ(silence % 4096, 0u) << silence;
    played.erase(played.begin(), played.begin() + static_cast<std::ptrdiff_t>(silence));
    ASSERT_GT(played.size(), 200000u);
    ASSERT_LE(played.size(), expected.size());
    size_t same = 0;
    while (same < played.size() && played[same] == expected[same]) {
        ++same;
    }
    EXPECT_EQ(same, played.size()) << "the device's sound left the stream after " << same << " of "
                                   << played.size() << " bytes";
    const auto loud = std::count_if(played.begin(), played.end(), [](uint8_t b) { return b != 0; });
    EXPECT_GT(loud, static_cast<long>(played.size() / 4));
}

// A PulseAudio daemon with one null sink, on a socket in `folder`; stop()
// kills it as a crash would, start() runs a new one on the same socket.
class PulseServer {
  public:
    explicit PulseServer(std::filesystem::path folder) : folder_(std::move(folder)) {}
    ~PulseServer() { stop(); }

    std::string address() const { return "unix:" + socket().string(); }

    bool start() {
        const std::string home = "HOME=" + folder_.string();
        const std::string runtime = "XDG_RUNTIME_DIR=" + folder_.string();
        const std::string config = "XDG_CONFIG_HOME=" + folder_.string();
        const std::string protocol =
            "module-native-protocol-unix socket=" + socket().string() + " auth-anonymous=1";
        const char* path = std::getenv("PATH");
        const std::string pathVariable = std::string("PATH=") + (path ? path : "/usr/bin:/bin");
        const char* argv[] = {"pulseaudio", "-n", "--daemonize=no",
                              // Gone 10 s after its last client, should
                              // this test die before it can stop it.
                              "--exit-idle-time=10", "--use-pid-file=no", "--disable-shm=yes",
                              // The sink first: once the socket is there, so is the sink.
                              "-L", "module-null-sink sink_name=nullsink rate=44100", "-L",
                              protocol.c_str(), nullptr};
        const char* envp[] = {home.c_str(), runtime.c_str(), config.c_str(), pathVariable.c_str(),
                              nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned =
            posix_spawnp(&pid_, "pulseaudio", &actions, nullptr, const_cast<char* const*>(argv),
                         const_cast<char* const*>(envp));
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            return false;
        }
        bool ended = false;
        return waitUntil([&] {
                   ended = ended || waitpid(pid_, nullptr, WNOHANG) != 0;
                   return ended || std::filesystem::exists(socket());
               }) &&
               !ended;
    }

    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        std::filesystem::remove(socket());
    }

  private:
    std::filesystem::path socket() const { return folder_ / "pulse.sock"; }
    std::filesystem::path folder_;
    pid_t pid_ = -1;
};

// The residue pairs published within `span`: the span itself is what is
// looked at.
std::set<std::pair<int32_t, int32_t>> residuesWithin(std::chrono::milliseconds span) {
    std::set<std::pair<int32_t, int32_t>> seen;
    const auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
        seen.emplace(stepResidueA.load(), stepResidueB.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return seen;
}

TEST(AudioOutput, ALostDeviceIsOpenedAgainAndTheResiduesWaitMeanwhile) {
    if (std::system("command -v pulseaudio >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "pulseaudio is not installed";
    }
    const auto folder = std::filesystem::temp_directory_path() /
                        ("queltravine-pulse-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        PulseServer server(folder);
        ASSERT_TRUE(server.start()) << "PulseAudio did not start";
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        setenv("PULSE_SERVER", server.address().c_str(), 1);
        resetSynthesiser();
        // The output's own word on its device, from standard error.
        const auto said = folder / "stderr.txt";
        const int savedStderr = dup(2);
        const int captured = open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        dup2(captured, 2);
        const auto saidSoFar = [&] {
            const std::vector<uint8_t> bytes = readFile(said);
            return std::string(bytes.begin(), bytes.end());
        };
        startAudio();
        // Playing: the residues move block by block.
        EXPECT_GT(residuesUntil(3).size(), 2u);

        server.stop();
        EXPECT_TRUE(waitUntil([&] {
            return saidSoFar().find("device was lost") != std::string::npos;
        })) << saidSoFar();
        dup2(savedStderr, 2);
        close(savedStderr);
        close(captured);
        // Once the loss is seen nothing fills, for as long as it lasts.
        EXPECT_EQ(residuesWithin(std::chrono::milliseconds(1500)).size(), 1u)
            << "the synthesiser ran with no device";

        ASSERT_TRUE(server.start()) << "PulseAudio did not start again";
        // Opened again, playing on.
        EXPECT_GT(residuesUntil(3).size(), 2u) << "the music did not come back";
        stopAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
