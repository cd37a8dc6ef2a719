#include "platform/audio_feed.h"

#include <cstring>

#include "synth/synthesiser.h"

void resetAudioFeed(AudioFeed& feed) {
    resetUpsampler(feed.upsampler);
    feed.handedOut = kAudioFeedBlockFrames;
}

void feedAudio(AudioFeed& feed, int16_t* out, int32_t frames) {
    // One block's stream, as fillStereoBlock writes it: little-endian 16-bit
    // samples, read as the native ones of the little-endian targets.
    static_assert(kAudioBlockBytes % kAudioBytesPerFrame == 0);
    while (frames > 0) {
        if (feed.handedOut == kAudioFeedBlockFrames) {
            fillStereoBlock(nullptr, feed.block, kAudioBlockBytes, kAudioUserValue);
            upsampleStereo(feed.upsampler, feed.block, kAudioBlockFrames, feed.doubled);
            feed.handedOut = 0;
        }
        int32_t take = kAudioFeedBlockFrames - feed.handedOut;
        if (take > frames) {
            take = frames;
        }
        std::memcpy(out, feed.doubled + 2 * feed.handedOut,
                    static_cast<size_t>(take) * 2 * sizeof(int16_t));
        feed.handedOut += take;
        out += 2 * take;
        frames -= take;
    }
}
