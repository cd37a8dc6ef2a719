// The synthesiser on the browser's audio thread: synth.wasm, instantiated
// here from the module the page compiled, plays the music at 44100 Hz, the
// context's rate, through the project's own upsampler (no resampling by the
// browser). Each render quantum plays from the block made before and makes
// a slice of the next whole block ahead of need (audio_stream.h), so no
// quantum carries a whole block's work. After each block the two residues
// are posted to the page, with counts of what this processor has done.
"use strict";

class SynthProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const given = options.processorOptions.wasm;
    // A compiled module, or its bytes where the browser could not pass one.
    const module = given instanceof WebAssembly.Module ? given : new WebAssembly.Module(given);
    // The module is built to need nothing; anything it did import would fail loudly.
    const imports = {};
    for (const wanted of WebAssembly.Module.imports(module)) {
      imports[wanted.module] = imports[wanted.module] || {};
      imports[wanted.module][wanted.name] = () => {
        throw new Error("synth.wasm called " + wanted.module + "." + wanted.name);
      };
    }
    this.synth = new WebAssembly.Instance(module, imports).exports;
    if (this.synth._initialize) this.synth._initialize();
    this.synth.startStream();
    this.callFrames = this.synth.streamBufferFrames();
    // The memory never grows, so the view stays valid.
    this.out = new Int16Array(this.synth.memory.buffer, this.synth.streamBuffer(),
                              2 * this.callFrames);
    this.postedBlocks = 0;
    // For the tests and measurements; what each call costs is measured from
    // outside (Chromium's trace), as a worklet has no fine clock of its own.
    this.counts = {
      rate: sampleRate,
      quanta: 0,         // process() calls
      startFrame: null,  // the context frame of the first music sample
      musicQuanta: 0,    // calls since the music started
      shortQuanta: 0,    // of those, calls given less than a full quantum of music
      lateBlocks: 0,     // blocks finished in the call that needed them
    };
    if (sampleRate !== this.synth.streamRate()) {
      this.port.postMessage({ error: "the audio runs at " + sampleRate + " Hz, not " +
                                     this.synth.streamRate() + " Hz" });
    }
    // The page may ask for the counts at any time, also while the context is suspended.
    this.port.onmessage = () => {
      this.counts.lateBlocks = this.synth.lateBlocks();
      this.port.postMessage({ counts: this.counts });
    };
  }

  process(inputs, outputs) {
    const counts = this.counts;
    const left = outputs[0][0];
    const right = outputs[0][1] || left;
    for (let at = 0; at < left.length; at += this.callFrames) {
      const frames = Math.min(left.length - at, this.callFrames);
      const music = this.synth.playStream(frames);
      if (counts.startFrame === null && music > 0) counts.startFrame = currentFrame + at;
      if (counts.startFrame !== null && music < frames) ++counts.shortQuanta;
      const out = this.out;
      for (let i = 0; i < frames; ++i) {
        // Signed 16-bit to [-1, 1).
        left[at + i] = out[2 * i] / 32768;
        right[at + i] = out[2 * i + 1] / 32768;
      }
    }
    ++counts.quanta;
    if (counts.startFrame !== null) ++counts.musicQuanta;
    const made = this.synth.blocksMade();
    if (made !== this.postedBlocks) {
      this.postedBlocks = made;
      counts.lateBlocks = this.synth.lateBlocks();
      this.port.postMessage({ residues: [this.synth.residueA(), this.synth.residueB()],
                              blocks: made, counts });
    }
    return true;
  }
}

registerProcessor("queltravine-synth", SynthProcessor);
