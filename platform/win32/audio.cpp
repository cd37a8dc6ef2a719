// The audio output over waveOut: a thread of its own keeps a ring of device
// buffers full from the project's feed (platform/audio_feed: whole
// 40,000-byte blocks from the synthesiser, doubled in rate by
// synth/upsampler for the 44100 Hz device), the same samples the SDL output
// plays.
//
// A device lost while playing (a buffer refused by waveOutWrite, a WOM_CLOSE
// the player did not ask for, or no buffer handed back for two seconds) is
// closed by that thread, which then tries to open one again about once a
// second (platform/device_retry.h) and goes on with the stream from where
// the generator is. Meanwhile nothing calls fillStereoBlock, so the residues
// stay as the last block left them. The frame loop never waits for this.
#include <windows.h>

#include <mmsystem.h>

#include <atomic>
#include <cstdio>

#include "platform/audio_feed.h"
#include "platform/audio_output.h"
#include "platform/device_retry.h"

namespace {

// Eight buffers of 2048 device frames: 46 ms each, 370 ms queued in all, so a
// busy main thread does not starve the device.
constexpr int kDeviceBuffers = 8;
constexpr int kDeviceBufferFrames = 2048;

HWAVEOUT device = nullptr;
// Signalled by the device as each buffer finishes (and as it opens or
// closes), and by stopAudio.
HANDLE wake = nullptr;
HANDLE audioThread = nullptr;
std::atomic<bool> stopRequested{false};
// Set by the device's callback when it closes without being asked to.
std::atomic<bool> closedByDevice{false};
std::atomic<bool> closing{false};

// Touched by the audio thread while it runs, and by the main thread only
// before it starts and after it has ended; the stream carries on across a
// restart and across a lost device.
WAVEHDR headers[kDeviceBuffers];
int16_t deviceBuffers[kDeviceBuffers][2 * kDeviceBufferFrames];
AudioFeed feed;
bool feedReady = false;

// Runs on a thread of the system's: only SetEvent and atomics here.
void CALLBACK deviceMessage(HWAVEOUT, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    if (message == WOM_CLOSE && !closing.load()) {
        closedByDevice.store(true);
    }
    if (message == WOM_DONE || message == WOM_CLOSE) {
        SetEvent(wake);
    }
}

void closeDevice() {
    closing.store(true);
    waveOutReset(device);  // stops at once and hands every buffer back
    for (WAVEHDR& header : headers) {
        if ((header.dwFlags & WHDR_PREPARED) != 0) {
            waveOutUnprepareHeader(device, &header, sizeof header);
        }
    }
    waveOutClose(device);
    device = nullptr;
    closing.store(false);
}

// Opens the device and prepares its buffers; on failure nothing stays open.
MMRESULT openDevice() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = kAudioDeviceRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = kAudioDeviceRate * 4;
    closedByDevice.store(false);
    const MMRESULT opened =
        waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(deviceMessage), 0,
                    CALLBACK_FUNCTION);
    if (opened != MMSYSERR_NOERROR) {
        device = nullptr;
        return opened;
    }
    for (int i = 0; i < kDeviceBuffers; ++i) {
        headers[i] = WAVEHDR{};
        headers[i].lpData = reinterpret_cast<LPSTR>(deviceBuffers[i]);
        headers[i].dwBufferLength = sizeof deviceBuffers[i];
        const MMRESULT prepared = waveOutPrepareHeader(device, &headers[i], sizeof headers[i]);
        if (prepared != MMSYSERR_NOERROR) {
            closeDevice();
            return prepared;
        }
    }
    return MMSYSERR_NOERROR;
}

// Fills a buffer and hands it to the device; the device's refusal, if any.
MMRESULT queueBuffer(WAVEHDR& header) {
    feedAudio(feed, reinterpret_cast<int16_t*>(header.lpData), kDeviceBufferFrames);
    return waveOutWrite(device, &header, sizeof header);
}

MMRESULT queueAll() {
    for (WAVEHDR& header : headers) {
        const MMRESULT written = queueBuffer(header);
        if (written != MMSYSERR_NOERROR) {
            return written;
        }
    }
    return MMSYSERR_NOERROR;
}

// Closes a device found gone; `why` says how it was found.
void loseDevice(DeviceRetry& retry, const char* why) {
    std::fprintf(stderr, "queltravine: the sound device was lost (%s); trying again every second\n",
                 why);
    std::fflush(stderr);
    closeDevice();
    retry.lost();
}

void loseRefusedDevice(DeviceRetry& retry, MMRESULT refused) {
    char why[64];
    std::snprintf(why, sizeof why, "waveOutWrite error %u", static_cast<unsigned>(refused));
    loseDevice(retry, why);
}

DWORD WINAPI playAudio(void*) {
    DeviceRetry retry(GetTickCount64());
    ULONGLONG lastDone = GetTickCount64();
    if (const MMRESULT written = queueAll(); written != MMSYSERR_NOERROR) {
        loseRefusedDevice(retry, written);
    }
    while (!stopRequested.load()) {
        if (device == nullptr) {
            WaitForSingleObject(wake, static_cast<DWORD>(retry.waitMs(GetTickCount64())));
            const ULONGLONG now = GetTickCount64();
            if (stopRequested.load() || !retry.due(now)) {
                continue;
            }
            const MMRESULT opened = openDevice();
            retry.attempted(now, opened == MMSYSERR_NOERROR);
            if (opened != MMSYSERR_NOERROR) {
                continue;
            }
            std::fprintf(stderr, "queltravine: sound device open again (attempt %d)\n",
                         retry.attempts());
            std::fflush(stderr);
            lastDone = now;
            if (const MMRESULT written = queueAll(); written != MMSYSERR_NOERROR) {
                loseRefusedDevice(retry, written);
            }
            continue;
        }
        WaitForSingleObject(wake, static_cast<DWORD>(kAudioStallMs));
        MMRESULT refused = MMSYSERR_NOERROR;
        for (WAVEHDR& header : headers) {
            if (stopRequested.load()) {
                break;
            }
            if ((header.dwFlags & WHDR_DONE) != 0) {
                lastDone = GetTickCount64();
                refused = queueBuffer(header);
                if (refused != MMSYSERR_NOERROR) {
                    break;
                }
            }
        }
        if (stopRequested.load()) {
            break;
        }
        if (refused != MMSYSERR_NOERROR) {
            loseRefusedDevice(retry, refused);
        } else if (closedByDevice.load()) {
            loseDevice(retry, "WOM_CLOSE");
        } else if (deviceStalled(lastDone, GetTickCount64())) {
            static_assert(kAudioStallMs == 2000, "the message says 2 s");
            loseDevice(retry, "no buffer handed back in 2 s");
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
    if (!feedReady) {
        // The stream's start: the upsampler's lag is played from here.
        resetAudioFeed(feed);
        feedReady = true;
    }

    wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake == nullptr) {
        failAudio("cannot create the sound event (error %u)",
                  static_cast<unsigned>(GetLastError()));
    }
    // Missing at start-up is not retried.
    const MMRESULT opened = openDevice();
    if (opened != MMSYSERR_NOERROR) {
        failAudio("cannot open the sound device (error %u)", static_cast<unsigned>(opened));
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
        SetEvent(wake);
        WaitForSingleObject(audioThread, INFINITE);  // a fill or an attempt in progress ends first
        CloseHandle(audioThread);
        audioThread = nullptr;
    }
    if (device != nullptr) {
        closeDevice();
    }
    if (wake != nullptr) {
        CloseHandle(wake);
        wake = nullptr;
    }
}
