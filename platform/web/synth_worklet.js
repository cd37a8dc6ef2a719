// The synthesiser on the browser's audio thread: synth.wasm, instantiated
// here from the bytes the page passes, makes whole 40,000-byte blocks. Two
// blocks are kept: the one playing and the next, made as soon as the one
// before it starts, so a block is always ready ahead of need. After each
// block the two residues are posted to the page.
"use strict";

class SynthProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const module = new WebAssembly.Module(options.processorOptions.wasm);
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
    this.frames = this.synth.blockBytes() / 4;
    this.blocks = [new Int16Array(this.frames * 2), new Int16Array(this.frames * 2)];
    this.fill(0);
    this.fill(1);
    this.playing = 0;
    this.position = 0;
  }

  fill(index) {
    this.synth.fillBlock();
    this.blocks[index].set(new Int16Array(this.synth.memory.buffer, this.synth.blockBuffer(),
                                          this.frames * 2));
    this.port.postMessage([this.synth.residueA(), this.synth.residueB()]);
  }

  process(inputs, outputs) {
    const left = outputs[0][0];
    const right = outputs[0][1] || left;
    for (let i = 0; i < left.length; ++i) {
      if (this.position === this.frames) {
        const finished = this.playing;
        this.playing = 1 - finished;
        this.position = 0;
        this.fill(finished);
      }
      const block = this.blocks[this.playing];
      // Signed 16-bit to [-1, 1).
      left[i] = block[2 * this.position] / 32768;
      right[i] = block[2 * this.position + 1] / 32768;
      ++this.position;
    }
    return true;
  }
}

registerProcessor("queltravine-synth", SynthProcessor);
