// The audio output over waveOut: a thread of its own keeps a ring of device
// buffers full, pulling whole 40,000-byte blocks from the synthesiser at
// 22050 Hz and doubling their rate for the 44100 Hz device.
#include <windows.h>

#include <mmsystem.h>

#include <atomic>

#include "platform/audio_output.h"
#include "synth/synthesiser.h"
#include "synth/upsampler.h"

namespace {

// Eight buffers of 2048 device frames: 46 ms each, 370 ms queued in all, so a
// busy main thread does not starve the device.
constexpr int kDeviceBuffers = 8;
constexpr int kDeviceBufferFrames = 2048;
constexpr int kStreamBlockFrames = kAudioBlockBytes / kAudioBytesPerFrame;

HWAVEOUT device = nullptr;
HANDLE bufferDone = nullptr;  // signalled by the device as each buffer finishes
HANDLE audioThread = nullptr;
std::atomic<bool> stopRequested{false};

// Touched by the audio thread while it runs, and by the main thread only
// before it starts and after it has ended; the stream carries on across a
// restart.
WAVEHDR headers[kDeviceBuffers];
int16_t deviceBuffers[kDeviceBuffers][2 * kDeviceBufferFrames];
int16_t streamBlock[2 * kStreamBlockFrames];
int32_t streamBlockUsed = kStreamBlockFrames;
Upsampler upsampler;
bool upsamplerReady = false;

void fillDeviceBuffer(int16_t* out) {
    int32_t made = 0;
    while (made < kDeviceBufferFrames) {
        if (streamBlockUsed == kStreamBlockFrames) {
            // Whole blocks, so the published residues change once per block.
            fillStereoBlock(nullptr, streamBlock, kAudioBlockBytes, kAudioUserValue);
            streamBlockUsed = 0;
        }
        int32_t frames = (kDeviceBufferFrames - made) / 2;
        if (frames > kStreamBlockFrames - streamBlockUsed) {
            frames = kStreamBlockFrames - streamBlockUsed;
        }
        upsampleStereo(upsampler, streamBlock + 2 * streamBlockUsed, frames, out + 2 * made);
        streamBlockUsed += frames;
        made += 2 * frames;
    }
}

void queueBuffer(WAVEHDR& header) {
    fillDeviceBuffer(reinterpret_cast<int16_t*>(header.lpData));
    waveOutWrite(device, &header, sizeof header);
}

DWORD WINAPI playAudio(void*) {
    for (WAVEHDR& header : headers) {
        queueBuffer(header);
    }
    while (!stopRequested.load()) {
        WaitForSingleObject(bufferDone, INFINITE);
        for (WAVEHDR& header : headers) {
            if (stopRequested.load()) {
                break;
            }
            if ((header.dwFlags & WHDR_DONE) != 0) {
                queueBuffer(header);
            }
        }
    }
    return 0;
}

}  // namespace

void startAudio() {
    // The second of the demo's two starts: the stream plays on.
    if (audioThread != nullptr) {
        return;
    }
    if (!upsamplerReady) {
        resetUpsampler(upsampler);
        upsamplerReady = true;
    }

    bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (bufferDone == nullptr) {
        failAudio("cannot create the sound event (error %u)",
                  static_cast<unsigned>(GetLastError()));
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = kAudioDeviceRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = kAudioDeviceRate * 4;
    const MMRESULT opened = waveOutOpen(&device, WAVE_MAPPER, &format,
                                        reinterpret_cast<DWORD_PTR>(bufferDone), 0, CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR) {
        device = nullptr;
        failAudio("cannot open the sound device (error %u)", static_cast<unsigned>(opened));
    }
    for (int i = 0; i < kDeviceBuffers; ++i) {
        headers[i] = WAVEHDR{};
        headers[i].lpData = reinterpret_cast<LPSTR>(deviceBuffers[i]);
        headers[i].dwBufferLength = sizeof deviceBuffers[i];
        const MMRESULT prepared = waveOutPrepareHeader(device, &headers[i], sizeof headers[i]);
        if (prepared != MMSYSERR_NOERROR) {
            failAudio("cannot prepare the sound buffers (error %u)",
                      static_cast<unsigned>(prepared));
        }
    }

    stopRequested.store(false);
    audioThread = CreateThread(nullptr, 0, playAudio, nullptr, 0, nullptr);
    if (audioThread == nullptr) {
        failAudio("cannot start the sound thread (error %u)",
                  static_cast<unsigned>(GetLastError()));
    }
    // The frame loop never sleeps; the music must not wait for it.
    SetThreadPriority(audioThread, THREAD_PRIORITY_HIGHEST);
}

void stopAudio() {
    if (audioThread != nullptr) {
        stopRequested.store(true);
        SetEvent(bufferDone);
        WaitForSingleObject(audioThread, INFINITE);  // a fill in progress ends first
        CloseHandle(audioThread);
        audioThread = nullptr;
    }
    if (device != nullptr) {
        waveOutReset(device);  // stops at once and hands every buffer back
        for (WAVEHDR& header : headers) {
            waveOutUnprepareHeader(device, &header, sizeof header);
        }
        waveOutClose(device);
        device = nullptr;
    }
    if (bufferDone != nullptr) {
        CloseHandle(bufferDone);
        bufferDone = nullptr;
    }
}
