// The audio output over SDL2's audio device: SDL's callback thread pulls
// whole 40,000-byte blocks from the synthesiser and SDL converts them to the
// device's 44100 Hz. It cannot choose the device itself: SDL's variables do.
#include <SDL.h>

#include <algorithm>

#include "platform/audio_output.h"
#include "synth/synthesiser.h"

namespace {

// The device's own buffer: about 23 ms at 44100 Hz, so that sound starts at
// once and closing the device waits for little.
constexpr Uint16 kDeviceFrames = 1024;

SDL_AudioDeviceID audioDevice = 0;
// Converts the 22050 Hz stream to the device rate. Touched only by the audio
// thread once the device runs.
SDL_AudioStream* rateConverter = nullptr;
// Whole blocks from the synthesiser, so its residues change once per block.
Uint8 streamBlock[kAudioBlockBytes];

void SDLCALL pullAudio(void*, Uint8* out, int length) {
    while (SDL_AudioStreamAvailable(rateConverter) < length) {
        fillStereoBlock(nullptr, streamBlock, kAudioBlockBytes, kAudioUserValue);
        if (SDL_AudioStreamPut(rateConverter, streamBlock, kAudioBlockBytes) != 0) {
            break;
        }
    }
    // Only a failed conversion leaves a gap; it is played as silence.
    const int got = std::max(SDL_AudioStreamGet(rateConverter, out, length), 0);
    SDL_memset(out + got, 0, static_cast<size_t>(length - got));
}

}  // namespace

void startAudio() {
    // The second of the demo's two starts: the stream plays on.
    if (audioDevice != 0) {
        return;
    }
    if (SDL_WasInit(SDL_INIT_AUDIO) == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        failAudio("cannot start the sound system: %s", SDL_GetError());
    }
    if (rateConverter == nullptr) {
        rateConverter =
            SDL_NewAudioStream(AUDIO_S16LSB, 2, kAudioRate, AUDIO_S16LSB, 2, kAudioDeviceRate);
        if (rateConverter == nullptr) {
            failAudio("cannot set up the sound conversion: %s", SDL_GetError());
        }
    }
    SDL_AudioSpec wanted{};
    wanted.freq = kAudioDeviceRate;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = 2;
    wanted.samples = kDeviceFrames;
    wanted.callback = pullAudio;
    SDL_AudioSpec obtained{};
    audioDevice = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (audioDevice == 0) {
        failAudio("cannot open the sound device: %s", SDL_GetError());
    }
    SDL_PauseAudioDevice(audioDevice, 0);
}

void stopAudio() {
    if (audioDevice != 0) {
        SDL_CloseAudioDevice(audioDevice);
        audioDevice = 0;
    }
}
