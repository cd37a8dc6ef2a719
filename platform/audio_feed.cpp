#include "platform/audio_feed.h"

#include <cstring>

void resetAudioFeed(AudioFeed& feed) {
    resetUpsampler(feed.upsampler);
    feed.handedOut = kAudioFeedBlockFrames;
}

void feedAudio(AudioFeed& feed, int16_t* out, int32_t frames) {
    while (frames > 0) {
        if (feed.handedOut == kAudioFeedBlockFrames) {
            makeStereoFrames(feed.block, kSynthBlockFrames);
            upsampleStereo(feed.upsampler, feed.block, kSynthBlockFrames, feed.doubled);
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
