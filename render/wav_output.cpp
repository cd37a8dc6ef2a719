#include "render/wav_output.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/audio_output.h"
#include "render/audio_blocks.h"
#include "render/output_files.h"
#include "synth/synthesiser.h"
#include "synth/upsampler.h"

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

bool makeWavHeader(int64_t frames, uint8_t header[44], int32_t rate) {
    const int64_t dataBytes = frames * kAudioBytesPerFrame;
    if (frames < 0 || dataBytes > std::numeric_limits<uint32_t>::max() - 36)
        return false;
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, static_cast<uint32_t>(36 + dataBytes));
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);  // size of the format chunk
    put16(header + 20, 1);   // PCM
    put16(header + 22, 2);   // channels
    put32(header + 24, static_cast<uint32_t>(rate));
    put32(header + 28, static_cast<uint32_t>(rate * kAudioBytesPerFrame));  // bytes per second
    put16(header + 32, kAudioBytesPerFrame);                                // bytes per frame
    put16(header + 34, 16);                                                 // bits per sample
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, static_cast<uint32_t>(dataBytes));
    return true;
}

void writeWav(const RenderSchedule& schedule, const std::string& path, int32_t rate) {
    // Output frames per stream frame: 1, or 2 through the upsampler.
    const int64_t factor = rate / kAudioRate;
    const int64_t total = wavFrames(schedule);
    const int64_t first = wavFirstFrame(schedule);
    uint8_t header[44];
    if (!makeWavHeader((total - first) * factor, header, rate))
        failRender("the audio is too long for a WAV file: render less");
    FILE* file = openOutput(path);
    const std::string what = "'" + path + "'";
    writeAll(file, header, sizeof header, what);
    restartAudio(schedule.audioBlockBytes);
    Upsampler upsampler;
    resetUpsampler(upsampler);
    std::vector<int16_t> stream(factor == 2 ? 2 * static_cast<size_t>(audioBlockFrames()) : 0);
    std::vector<int16_t> doubled(2 * stream.size());
    // Blocks before the first frame written are made all the same: each
    // block depends on every one before it.
    int64_t made = 0;
    while (const uint8_t* block = nextAudioBlock(total)) {
        stopIfInterrupted();
        const uint8_t* out = block;
        if (factor == 2) {
            // Little-endian 16-bit samples, as the WAV holds them.
            std::memcpy(stream.data(), block, stream.size() * sizeof(int16_t));
            upsampleStereo(upsampler, stream.data(), audioBlockFrames(), doubled.data());
            out = reinterpret_cast<const uint8_t*>(doubled.data());
        }
        const int64_t end = std::min<int64_t>(made + audioBlockFrames(), total) * factor;
        const int64_t from = std::max(made, first) * factor;
        if (from < end) {
            writeAll(file, out + (from - made * factor) * kAudioBytesPerFrame,
                     static_cast<size_t>(end - from) * kAudioBytesPerFrame, what);
        }
        made += audioBlockFrames();
    }
    finishOutput(file, path);
}
