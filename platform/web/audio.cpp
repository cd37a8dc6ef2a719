// The audio output in a browser: an AudioWorklet runs its own instance of
// the synthesiser (synth.wasm) on the browser's audio thread, in whole
// 40,000-byte blocks, and posts the two residues after each block; the page
// hands them to webSetResidues. The context runs at 44100 Hz, the rate the
// worklet plays through the project's upsampler. It cannot pick a device,
// and a page may play only after a click or key, which the page waits for.
#include <emscripten.h>

#include "platform/audio_output.h"

namespace {

bool playing = false;

// clang-format off
EM_JS(void, startPageAudio, (), {
    Module.startAudio();
});

EM_JS(void, stopPageAudio, (), {
    Module.stopAudio();
});
// clang-format on

}  // namespace

void startAudio() {
    // The second of the demo's two starts: the stream plays on.
    if (playing) {
        return;
    }
    startPageAudio();
    playing = true;
}

void stopAudio() {
    if (playing) {
        stopPageAudio();
        playing = false;
    }
}
