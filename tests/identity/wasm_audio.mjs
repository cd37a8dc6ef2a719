// Runs the browser's synth.wasm (the audio worklet's own module) in Node and
// prints the SHA-256 of the 22050 Hz PCM it makes in the given number of
// seconds, block after block as the worklet does.
// Usage: node wasm_audio.mjs SYNTH_WASM SECONDS
import { readFileSync } from "node:fs";
import { createHash } from "node:crypto";

const [wasmPath, secondsText] = process.argv.slice(2);
const { instance } = await WebAssembly.instantiate(readFileSync(wasmPath), {});
const synth = instance.exports;
synth._initialize?.();
const blockBytes = 40000;
let left = Math.round(Number(secondsText) * 22050) * 4;
const hash = createHash("sha256");
while (left > 0) {
    synth.fillRawBlock();
    const bytes = Math.min(left, blockBytes);
    hash.update(new Uint8Array(synth.memory.buffer, synth.rawBlockBuffer(), bytes));
    left -= bytes;
}
console.log(hash.digest("hex"));
