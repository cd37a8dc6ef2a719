#include "render/wav_output.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/audio_output.h"
#include "render/audio_blocks.h"
#include "render/output_files.h"
#include "synth/synthesiser.h"

namespace {

void put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    put16(at, value & 0xFFFFu);
    put16(at + 2, value >> 16);
}

}  // namespace

bool makeWavHeader(int64_t frames, uint8_t header[44]) {
    const int64_t dataBytes = frames * kAudioBytesPerFrame;
    if (frames < 0 || dataBytes > std::numeric_limits<uint32_t>::max() - 36)
        return false;
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, static_cast<uint32_t>(36 + dataBytes));
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);  // size of the format chunk
    put16(header + 20, 1);   // PCM
    put16(header + 22, 2);   // channels
    put32(header + 24, kAudioRate);
    put32(header + 28, kAudioRate * kAudioBytesPerFrame);  // bytes per second
    put16(header + 32, kAudioBytesPerFrame);               // bytes per frame
    put16(header + 34, 16);                                // bits per sample
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, static_cast<uint32_t>(dataBytes));
    return true;
}

void writeWav(const RenderSchedule& schedule, const std::string& path) {
    const int64_t total = wavFrames(schedule);
    const int64_t first = wavFirstFrame(schedule);
    uint8_t header[44];
    if (!makeWavHeader(total - first, header))
        failRender("the audio is too long for a WAV file: render less");
    FILE* file = openOutput(path);
    const std::string what = "'" + path + "'";
    writeAll(file, header, sizeof header, what);
    restartAudio(schedule.audioBlockBytes);
    // Blocks before the first frame written are made all the same: each
    // block depends on every one before it.
    int64_t made = 0;
    while (const uint8_t* block = nextAudioBlock(total)) {
        if (renderInterrupted)
            failRender("interrupted; unfinished outputs removed");
        const int64_t end = std::min<int64_t>(made + audioBlockFrames(), total);
        const int64_t from = std::max(made, first);
        if (from < end) {
            writeAll(file, block + (from - made) * kAudioBytesPerFrame,
                     static_cast<size_t>(end - from) * kAudioBytesPerFrame, what);
        }
        made += audioBlockFrames();
    }
    finishOutput(file, path);
}
