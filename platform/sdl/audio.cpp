// The audio output over SDL2's audio device, opened at exactly 44100 Hz
// signed 16-bit stereo: SDL's callback thread pulls the stream from the
// project's own feed (platform/audio_feed: whole 40,000-byte blocks from the
// synthesiser, doubled in rate by synth/upsampler), the same samples the
// Windows output plays. It cannot choose the device itself: SDL's variables
// do.
//
// A device lost while playing (the sound server stopped, the headset
// pulled: SDL's status goes to SDL_AUDIO_STOPPED) is closed by a watch
// thread, which then tries to open one again about once a second
// (platform/device_retry.h) and goes on with the stream from where the
// generator is. Meanwhile nothing calls fillStereoBlock, so the residues
// stay as the last block left them. The frame loop never waits for this.
#include <SDL.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "platform/audio_feed.h"
#include "platform/audio_output.h"
#include "platform/device_retry.h"
#include "synth/synthesiser.h"

namespace {

// The device's own buffer: about 23 ms at 44100 Hz, so that sound starts at
// once and closing the device waits for little.
constexpr Uint16 kDeviceFrames = 1024;
// How often the watch thread looks at the device's status.
constexpr auto kWatchInterval = std::chrono::milliseconds(100);

// Touched by the callback thread of the device playing; handed from one
// device's thread to the next through SDL's join of the old thread (closing)
// and its start of the new one (opening).
AudioFeed feed;
bool feedReady = false;

// The device the callback plays for (0 while none). Set before the device is
// unpaused, so the callback always finds its own.
std::atomic<SDL_AudioDeviceID> playingDevice{0};

void SDLCALL pullAudio(void*, Uint8* out, int length) {
    // SDL goes on calling the callback of a device it has lost, into
    // nothing, until it is closed: the music waits instead of running on
    // unheard.
    if (SDL_GetAudioDeviceStatus(playingDevice.load()) != SDL_AUDIO_PLAYING) {
        SDL_memset(out, 0, static_cast<size_t>(length));
        return;
    }
    feedAudio(feed, reinterpret_cast<int16_t*>(out), length / kAudioBytesPerFrame);
}

// Opens and starts a device; 0 when none can be opened (SDL_GetError says why).
SDL_AudioDeviceID openDevice() {
    SDL_AudioSpec wanted{};
    wanted.freq = kAudioDeviceRate;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = 2;
    wanted.samples = kDeviceFrames;
    wanted.callback = pullAudio;
    SDL_AudioSpec obtained{};
    // No changes allowed: the device takes exactly this format, or SDL
    // converts to what the hardware takes.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device != 0) {
        playingDevice.store(device);
        SDL_PauseAudioDevice(device, 0);
    }
    return device;
}

// The watch thread and what it shares with stopAudio. Freed only by
// stopAudio: a quit signal ends the process with the thread running. An SDL
// thread, so SDL frees what it keeps per thread (the error text of a failed
// attempt) when the thread ends.
struct Watch {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopRequested = false;  // under mutex
    SDL_Thread* thread = nullptr;
};
Watch* watch = nullptr;

// Owned by the watch thread while it runs, by the main thread otherwise.
SDL_AudioDeviceID audioDevice = 0;

int SDLCALL watchDevice(void*) {
    DeviceRetry retry(SDL_GetTicks64());
    std::unique_lock lock(watch->mutex);
    for (;;) {
        const uint64_t now = SDL_GetTicks64();
        const auto pause =
            retry.missing() ? std::chrono::milliseconds(retry.waitMs(now)) : kWatchInterval;
        if (watch->wake.wait_for(lock, pause, [] { return watch->stopRequested; })) {
            return 0;
        }
        lock.unlock();
        if (audioDevice != 0 && SDL_GetAudioDeviceStatus(audioDevice) == SDL_AUDIO_STOPPED) {
            std::fprintf(stderr,
                         "queltravine: the sound device was lost; trying again every second\n");
            // Waits for the device's thread, so the feed is free again.
            SDL_CloseAudioDevice(audioDevice);
            audioDevice = 0;
            playingDevice.store(0);
            retry.lost();
        }
        const uint64_t at = SDL_GetTicks64();
        if (audioDevice == 0 && retry.due(at)) {
            audioDevice = openDevice();
            retry.attempted(at, audioDevice != 0);
            if (audioDevice != 0) {
                std::fprintf(stderr, "queltravine: sound device open again (attempt %d)\n",
                             retry.attempts());
            }
        }
        lock.lock();
    }
}

}  // namespace

void startAudio() {
    // The second of the demo's two starts: the stream plays on.
    if (watch != nullptr) {
        return;
    }
    if (SDL_WasInit(SDL_INIT_AUDIO) == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        failAudio("cannot start the sound system: %s", SDL_GetError());
    }
    if (!feedReady) {
        // The stream's start: the upsampler's lag is played from here. The
        // stream carries on across a stop and a new start.
        resetAudioFeed(feed);
        feedReady = true;
    }
    // Missing at start-up is not retried.
    audioDevice = openDevice();
    if (audioDevice == 0) {
        failAudio("cannot open the sound device: %s", SDL_GetError());
    }
    watch = new Watch;
    watch->thread = SDL_CreateThread(watchDevice, "QueltravineAudioWatch", nullptr);
    if (watch->thread == nullptr) {
        failAudio("cannot start the sound device's watch: %s", SDL_GetError());
    }
}

void stopAudio() {
    if (watch != nullptr) {
        {
            std::lock_guard lock(watch->mutex);
            watch->stopRequested = true;
        }
        watch->wake.notify_all();
        SDL_WaitThread(watch->thread, nullptr);  // an attempt in progress ends first
        delete watch;
        watch = nullptr;
    }
    if (audioDevice != 0) {
        SDL_CloseAudioDevice(audioDevice);
        audioDevice = 0;
        playingDevice.store(0);
    }
}
