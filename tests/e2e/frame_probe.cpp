// Loaded into the player with LD_PRELOAD to time it from outside: counts the
// frames it presents and, when the process ends, writes to standard error
// the time from loading to the first frame and the frames per second of
// every whole second after it; names the renderer SDL chose and the audio
// device's format as opened (each time one is opened). With
// QUELTRAVINE_PROBE_AUDIO=FILE it also appends to FILE every byte the
// player's audio callback hands a playing device, from the first call on,
// so a test can compare it with the renderer's 44100 Hz WAV and see when
// the callback makes sound and when it does not.
#include <SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double nowSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

const double loadedAt = nowSeconds();
double firstFrameAt = 0;
long frames = 0;
constexpr int kMaxSeconds = 86400;  // a day of soak
long framesInSecond[kMaxSeconds];

struct Report {
    ~Report() {
        if (frames == 0) {
            std::fprintf(stderr, "probe: no frame presented\n");
            return;
        }
        const int whole = static_cast<int>(nowSeconds() - firstFrameAt);
        std::fprintf(stderr, "probe: first-frame-ms %.1f frames %ld fps-by-second",
                     (firstFrameAt - loadedAt) * 1000.0, frames);
        for (int s = 0; s < whole && s < kMaxSeconds; ++s) {
            std::fprintf(stderr, " %ld", framesInSecond[s]);
        }
        std::fprintf(stderr, "\n");
    }
} report;

}  // namespace

extern "C" SDL_Renderer* SDL_CreateRenderer(SDL_Window* window, int index, Uint32 flags) {
    using Create = SDL_Renderer* (*)(SDL_Window*, int, Uint32);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "SDL_CreateRenderer"));
    SDL_Renderer* renderer = real(window, index, flags);
    SDL_RendererInfo info{};
    if (renderer != nullptr && SDL_GetRendererInfo(renderer, &info) == 0) {
        std::fprintf(stderr, "probe: renderer %s\n", info.name);
    }
    return renderer;
}

// The player's callback and the device it plays for; one device at a time.
SDL_AudioCallback playerCallback = nullptr;
std::atomic<SDL_AudioDeviceID> recordedDevice{0};
int recording = -1;

void SDLCALL recordCallback(void* userdata, Uint8* stream, int length) {
    const SDL_AudioDeviceID id = recordedDevice.load();
    const bool before = SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_PLAYING;
    playerCallback(userdata, stream, length);
    // Only what a playing device took: not the silence of one SDL has lost
    // or is closing.
    if (before && SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_PLAYING) {
        ssize_t written = 0;
        while (written < length) {
            const ssize_t n =
                write(recording, stream + written, static_cast<size_t>(length - written));
            if (n <= 0) {
                break;
            }
            written += n;
        }
    }
}

extern "C" SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int iscapture,
                                                 const SDL_AudioSpec* desired,
                                                 SDL_AudioSpec* obtained, int allowedChanges) {
    using Open = SDL_AudioDeviceID (*)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int);
    static const auto real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "SDL_OpenAudioDevice"));
    SDL_AudioSpec wanted{};
    const char* file = std::getenv("QUELTRAVINE_PROBE_AUDIO");
    if (file != nullptr && desired != nullptr && desired->callback != nullptr && iscapture == 0) {
        if (recording < 0) {
            recording = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        }
        wanted = *desired;
        playerCallback = desired->callback;
        wanted.callback = recordCallback;
        desired = &wanted;
    }
    const SDL_AudioDeviceID id = real(device, iscapture, desired, obtained, allowedChanges);
    if (id != 0) {
        recordedDevice.store(id);  // before the player unpauses it
    }
    if (id != 0 && obtained != nullptr) {
        std::fprintf(stderr, "probe: audio-device %d Hz %d channels format 0x%04x\n",
                     obtained->freq, obtained->channels, static_cast<unsigned>(obtained->format));
    }
    return id;
}

extern "C" void SDL_RenderPresent(SDL_Renderer* renderer) {
    using Present = void (*)(SDL_Renderer*);
    static const auto real = reinterpret_cast<Present>(dlsym(RTLD_NEXT, "SDL_RenderPresent"));
    real(renderer);
    const double now = nowSeconds();
    if (frames++ == 0) {
        firstFrameAt = now;
    }
    const int second = static_cast<int>(now - firstFrameAt);
    if (second < kMaxSeconds) {
        ++framesInSecond[second];
    }
}
