#include "platform/web/audio_stream.h"

#include <algorithm>

#include "synth/upsampler.h"

namespace {

// One block plays while the other is made; fixed storage, nothing allocated.
int16_t blocks[2][2 * kSynthBlockFrames];
int playing = -1;          // -1 until the first block is made
int32_t playedFrames = 0;  // stream frames of the playing block upsampled so far
int making = 0;
int32_t madeFrames = 0;  // frames of the block being made so far
// An output frame made but not yet played, when a call asked for an odd count.
int16_t carried[2] = {};
bool haveCarried = false;
Upsampler upsampler;
int64_t blocksMade = 0;
int64_t lateBlocks = 0;

// Makes up to `frames` more frames of the block being made. Slices give the
// same samples as a whole block: the synthesiser's state carries over, and
// residues published after a slice are only read once the block is whole.
void makeFrames(int64_t wanted) {
    const auto frames =
        static_cast<int32_t>(std::min<int64_t>(wanted, kSynthBlockFrames - madeFrames));
    if (frames <= 0) {
        return;
    }
    makeStereoFrames(blocks[making] + 2 * madeFrames, frames);
    madeFrames += frames;
    if (madeFrames == kSynthBlockFrames) {
        ++blocksMade;
    }
}

// Moves on to the block made ahead; false before the first one is whole.
bool nextBlock() {
    if (madeFrames < kSynthBlockFrames) {
        if (playing < 0) {
            return false;
        }
        ++lateBlocks;
        makeFrames(kSynthBlockFrames);
    }
    playing = making;
    playedFrames = 0;
    making = 1 - playing;
    madeFrames = 0;
    return true;
}

}  // namespace

void startAudioStream() {
    resetSynthesiser();
    resetUpsampler(upsampler);
    playing = -1;
    playedFrames = 0;
    making = 0;
    madeFrames = 0;
    haveCarried = false;
    blocksMade = 0;
    lateBlocks = 0;
}

int32_t playAudioStream(int16_t* out, int32_t frames) {
    int32_t written = 0;
    if (haveCarried && frames > 0) {
        out[0] = carried[0];
        out[1] = carried[1];
        haveCarried = false;
        written = 1;
    }
    while (written < frames) {
        if ((playing < 0 || playedFrames == kSynthBlockFrames) && !nextBlock()) {
            break;
        }
        const int16_t* from = blocks[playing] + 2 * playedFrames;
        const int32_t pairs = std::min((frames - written) / 2, kSynthBlockFrames - playedFrames);
        if (pairs == 0) {
            // One output frame left: make its pair and keep the second half.
            int16_t pair[4];
            upsampleStereo(upsampler, from, 1, pair);
            out[2 * written] = pair[0];
            out[2 * written + 1] = pair[1];
            carried[0] = pair[2];
            carried[1] = pair[3];
            haveCarried = true;
            ++playedFrames;
            ++written;
            break;
        }
        upsampleStereo(upsampler, from, pairs, out + 2 * written);
        playedFrames += pairs;
        written += 2 * pairs;
    }
    makeFrames(int64_t{playing < 0 ? kFirstMakeAheadPerFrame : kMakeAheadPerFrame} * frames);
    return written;
}

int64_t audioStreamBlocksMade() {
    return blocksMade;
}

int64_t audioStreamLateBlocks() {
    return lateBlocks;
}
