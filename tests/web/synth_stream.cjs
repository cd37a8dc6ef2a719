// Drives synth.wasm in Node exactly as the audio worklet does, one render
// quantum per call, and writes the music it plays: raw signed 16-bit
// little-endian stereo at 44100 Hz from the stream's first sample (the
// silent quanta before the first block are left out), as
// `queltravine-render --wav-rate 44100` writes it after its 44-byte header.
// Also times each quantum's work (the playStream call and the worklet's
// conversion to floats) and prints the counts as one JSON line.
//
// Usage: node synth_stream.cjs SYNTH_WASM SECONDS OUT_FILE [QUANTUM_FRAMES]
"use strict";

const fs = require("fs");

const [wasmPath, secondsText, outPath, quantumText] = process.argv.slice(2);
if (!outPath) {
  process.stderr.write("usage: node synth_stream.cjs SYNTH_WASM SECONDS OUT_FILE [QUANTUM]\n");
  process.exit(2);
}
const quantum = Number(quantumText || 128);
const compiled = new WebAssembly.Module(fs.readFileSync(wasmPath));
const synth = new WebAssembly.Instance(compiled, {}).exports;
if (synth._initialize) synth._initialize();
synth.startStream();
const rate = synth.streamRate();
const wanted = Math.floor(Number(secondsText) * rate);
if (!(wanted >= 0) || !(quantum >= 1 && quantum <= synth.streamBufferFrames())) {
  process.stderr.write("bad SECONDS or QUANTUM\n");
  process.exit(2);
}
const out = new Int16Array(synth.memory.buffer, synth.streamBuffer(), 2 * quantum);
const left = new Float32Array(quantum);
const right = new Float32Array(quantum);

const file = fs.openSync(outPath, "w");
const chunk = Buffer.alloc(4 * rate);  // a second at a time
let chunkUsed = 0;
let written = 0;
const counts = { rate, quantum, quanta: 0, silentQuanta: 0, shortQuanta: 0, blocks: 0,
                 lateBlocks: 0, maxUs: 0, meanUs: 0, over1Ms: 0 };
let totalNs = 0n;
while (written < wanted) {
  const begun = process.hrtime.bigint();
  const music = synth.playStream(quantum);
  for (let i = 0; i < quantum; ++i) {
    left[i] = out[2 * i] / 32768;
    right[i] = out[2 * i + 1] / 32768;
  }
  const took = process.hrtime.bigint() - begun;
  totalNs += took;
  const us = Number(took) / 1000;
  if (us > counts.maxUs) counts.maxUs = us;
  if (us >= 1000) ++counts.over1Ms;
  ++counts.quanta;
  if (music === 0 && written === 0) {
    ++counts.silentQuanta;
    continue;
  }
  if (music < quantum) ++counts.shortQuanta;
  const take = Math.min(music, wanted - written);
  const bytes = Buffer.from(synth.memory.buffer, synth.streamBuffer(), 4 * take);
  for (let at = 0; at < bytes.length;) {
    const n = Math.min(bytes.length - at, chunk.length - chunkUsed);
    bytes.copy(chunk, chunkUsed, at, at + n);
    chunkUsed += n;
    at += n;
    if (chunkUsed === chunk.length) {
      fs.writeSync(file, chunk, 0, chunkUsed);
      chunkUsed = 0;
    }
  }
  written += take;
}
fs.writeSync(file, chunk, 0, chunkUsed);
fs.closeSync(file);
counts.blocks = synth.blocksMade();
counts.lateBlocks = synth.lateBlocks();
counts.meanUs = Number(totalNs) / 1000 / counts.quanta;
process.stdout.write(JSON.stringify(counts) + "\n");
