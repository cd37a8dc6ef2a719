// The page around the demo: it shows what the show is and waits for the
// click, tap or key a browser wants before sound, fetches the six pictures
// into the module's files, brings up the audio worklet and starts the demo;
// or, with ?render=N, runs the render mode and writes its log and frame
// checksums into the page. ?embed is the page inside another's iframe. The
// service worker (sw.js) keeps the site for offline use.
"use strict";

(() => {
  const PICTURES = ["warning.jpg", "credits.jpg", "part1.jpg", "part2.jpg", "part3.jpg",
                    "greets.jpg"];
  const params = new URLSearchParams(location.search);
  const status = document.getElementById("status");
  const stage = document.getElementById("stage");
  const frame = document.getElementById("frame");
  const fullscreenButton = document.getElementById("fullscreen");
  const startScreen = document.getElementById("start");
  const pageErrors = document.getElementById("page-errors");

  // Errors are kept on the page too, where a test can read them.
  const consoleError = console.error.bind(console);
  console.error = (...parts) => {
    pageErrors.textContent += parts.join(" ") + "\n";
    consoleError(...parts);
  };
  window.addEventListener("error", (event) => { pageErrors.textContent += event.message + "\n"; });
  window.addEventListener("unhandledrejection", (event) => {
    pageErrors.textContent += String(event.reason) + "\n";
  });

  // The canvas shows a few black frames while the page waits: the browser
  // allocates a canvas's buffers over its first frames, work that would
  // otherwise cost the show its first frames on a slow device.
  (() => {
    const screen = document.getElementById("screen");
    const context = screen.getContext("2d", { alpha: false });
    const black = context.createImageData(screen.width, screen.height);
    for (let alpha = 3; alpha < black.data.length; alpha += 4) black.data[alpha] = 255;
    let frames = 0;
    const paint = () => {
      context.putImageData(black, 0, 0);
      if (++frames < 4) requestAnimationFrame(paint);
    };
    requestAnimationFrame(paint);
  })();

  function say(text) {
    status.textContent = text;
    status.hidden = false;
  }

  function fail(text) {
    console.error(text);
    say(text);
  }

  function missingFeatures() {
    const missing = [];
    if (typeof WebAssembly !== "object") {
      missing.push("WebAssembly");
    } else if (!WebAssembly.validate(new Uint8Array([
      // A function returning i8x16.splat(0) + i8x16.popcnt: WebAssembly SIMD.
      0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0, 65, 0,
      253, 15, 253, 98, 11]))) {
      missing.push("WebAssembly SIMD");
    }
    if (typeof AudioWorkletNode !== "function") missing.push("AudioWorklet");
    return missing;
  }

  // The module ends the demo by exiting; that is a normal end, not an error.
  function call(run) {
    try {
      return run();
    } catch (error) {
      if (error && error.name === "ExitStatus") return undefined;
      throw error;
    }
  }

  // Each picture that could be fetched goes into the module's files under its
  // own name; one that could not is left out, and the demo's own loading says
  // so in its words when it reaches it.
  async function fetchPictures() {
    return Promise.all(PICTURES.map(async (name) => {
      try {
        const response = await fetch(name);
        return response.ok ? { name, bytes: new Uint8Array(await response.arrayBuffer()) }
                           : { name, bytes: null };
      } catch (error) {
        return { name, bytes: null };
      }
    }));
  }

  async function loadModule(pictures, hooks) {
    const module = await createQueltravine(Object.assign({
      print: (text) => console.log(text),
      printErr: (text) => console.warn(text),
      showMessage: (caption, text) => fail(caption + ": " + text),
      demoStopped: () => {},
    }, hooks));
    for (const picture of pictures) {
      if (picture.bytes) module.FS.writeFile(picture.name, picture.bytes);
    }
    return module;
  }

  function wholeNumber(name, fallback, low, high) {
    const text = params.get(name);
    if (text === null || text === "") return fallback;
    if (!/^[0-9]+$/.test(text) || Number(text) < low || Number(text) > high) {
      throw new Error("?" + name + "=" + text + " is not a whole number from " + low + " to " + high);
    }
    return Number(text);
  }

  async function renderMode() {
    const frames = wholeNumber("render", 0, 0, 1000000);
    const fps = wholeNumber("fps", 60, 1, 1000);
    const every = wholeNumber("every", 1, 1, 1000000000);
    const reduceFlashes = wholeNumber("reduce-flashes", 0, 0, 1);
    say("rendering " + frames + " frames");
    const module = await loadModule(await fetchPictures(), {});
    if (call(() => module._webRender(frames, fps, every, reduceFlashes))) {
      document.getElementById("render-log").textContent = module.UTF8ToString(module._webRenderLog());
      document.getElementById("render-crc").textContent = module.UTF8ToString(module._webRenderCrcs());
      document.getElementById("render-times").textContent =
          module.UTF8ToString(module._webRenderTimes());
      say("render done");
    }
    document.title = "render done";
  }

  let module = null;
  let audio = null;
  let started = false;
  let stopped = false;
  let flashingWarned = false;

  // The stage goes fullscreen: the frame inside keeps its 4:3 shape.
  function toggleFullscreen() {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (stage.requestFullscreen) stage.requestFullscreen().catch(() => {});
  }

  const FLASHING_WARNING = "This show contains rapid full-screen flashing.\n" +
                           "Reduced flashing is chosen below; untick it for the original.\n" +
                           "Tap, click or press a key again to start.";

  // The show with its flashing reduced (at most three flashes a second, as
  // the renderer's --reduce-flashes): ticked below the start line, or
  // ?reduce-flashes=1. Who asked for reduced motion is told of the flashing
  // (the last scene flashes the whole screen at the frame rate), offered the
  // reduced show ticked already, and starts with a second gesture.
  const reduceChoice = document.getElementById("reduce");
  if (params.has("embed")) document.documentElement.classList.add("embed");
  // A touch screen is tapped; the rest are clicked or get a key.
  const touch = navigator.maxTouchPoints > 0 || matchMedia("(any-pointer: coarse)").matches;
  const START_LINE = touch ? "Tap to start" : "Click or press a key to start";
  const reduceBox = document.getElementById("reduce-flashes");
  reduceBox.checked = params.get("reduce-flashes") === "1";
  // Ticking is no start.
  reduceChoice.addEventListener("click", (event) => event.stopPropagation());
  reduceBox.addEventListener("keydown", (event) => event.stopPropagation());

  function startAsked() {
    if (!flashingWarned && matchMedia("(prefers-reduced-motion: reduce)").matches) {
      flashingWarned = true;
      reduceBox.checked = true;
      say(FLASHING_WARNING);
      return;
    }
    startDemo();
  }

  // The show's clock: page milliseconds less the time the music stood still
  // (a hidden tab, a suspended or interrupted context), so the scenes stay
  // with the music. since: when it stopped, or null while it runs.
  const showClock = { standing: 0, since: null };

  function clockFollowsMusic(running) {
    const now = performance.now();
    if (running && showClock.since !== null) {
      showClock.standing += now - showClock.since;
      showClock.since = null;
    } else if (!running && showClock.since === null) {
      showClock.since = now;
    }
  }

  function showClockMilliseconds() {
    return (showClock.since === null ? performance.now() : showClock.since) - showClock.standing;
  }
  window.demoShowClock = showClockMilliseconds;  // for the tests

  // When the demo was asked to start and when its first frame was shown, in
  // page milliseconds (read by the tests and the speed measurement).
  // blocks: how many blocks the worklet has made (its residue messages);
  // audioNodes: how many worklets were made (the second audio start makes none);
  // frames: how many frames were shown.
  window.demoTimes = { start: null, firstFrame: null, blocks: 0, audioNodes: 0, frames: 0 };
  // The worklet's counts as of its last message (synth_worklet.js), and the
  // context, for the tests and the measurements.
  window.demoAudio = null;
  window.demoAudioContext = null;

  const RESUME_HINT = "tap, click or press a key for the music";

  // A browser may suspend the context (an incoming call, Safari's
  // "interrupted", a background tab, the autoplay policy). The page says so
  // and resumes it on the next tap, click or key; the music goes on from
  // where the generator is, as the worklet is simply called again.
  function resumeMusic() {
    if (audio && audio.node && !stopped && audio.context.state !== "running" &&
        audio.context.state !== "closed") {
      audio.context.resume().catch(() => {});
    }
  }

  function showMusicState() {
    if (stopped || !audio) return;
    const state = audio.context.state;
    clockFollowsMusic(state === "running");
    if (state === "running") {
      if (status.textContent === RESUME_HINT) status.hidden = true;
    } else if (state !== "closed" && status.hidden && !document.hidden) {
      say(RESUME_HINT);
    }
  }

  // A hidden tab pauses the show: the music is suspended, the clock stands
  // with it and the browser gives no animation frames. Shown again, the
  // music resumes where it was (the page asks for a tap if the browser
  // wants one) and the show goes on from the same moment.
  function onVisibility() {
    if (stopped || !audio || !audio.node) return;
    if (document.hidden) {
      // The clock stops when the context has (its statechange), with the music.
      audio.context.suspend().catch(() => {});
    } else {
      audio.context.resume().catch(() => {}).then(showMusicState);
    }
  }

  // Asks the worklet for its counts now (it answers while suspended too).
  window.demoAudioReport = () => new Promise((resolve) => {
    if (!audio || !audio.node) {
      resolve(null);
      return;
    }
    audio.reports.push(resolve);
    audio.node.port.postMessage("counts");
  });

  function makeSynthNode(context, synth) {
    const options = { numberOfInputs: 0, outputChannelCount: [2],
                      processorOptions: { wasm: synth.module } };
    try {
      return new AudioWorkletNode(context, "queltravine-synth", options);
    } catch (error) {
      // A browser that cannot pass a compiled module to the worklet gets the bytes.
      if (error.name !== "DataCloneError") throw error;
      options.processorOptions.wasm = synth.bytes;
      return new AudioWorkletNode(context, "queltravine-synth", options);
    }
  }

  function onWorkletMessage(event) {
    const data = event.data;
    if (data.error) {
      fail("The music cannot play: " + data.error);
      return;
    }
    window.demoAudio = data.counts;
    if (data.residues) {
      window.demoTimes.blocks = data.blocks;
      module._webSetResidues(data.residues[0], data.residues[1]);
    } else {
      for (const resolve of audio.reports.splice(0)) resolve(data.counts);
    }
  }

  async function startDemo() {
    started = true;
    startScreen.hidden = true;
    window.demoTimes.start = performance.now();
    say("loading");
    // The context must be made inside the click or key that allows sound. It
    // runs at 44100 Hz, the rate the worklet plays: the browser converts
    // only if the device runs at another rate.
    const context = new AudioContext({ sampleRate: 44100 });
    window.demoAudioContext = context;
    try {
      const [pictures, synth] = await Promise.all([
        fetchPictures(),
        fetch("synth.wasm").then(async (response) => {
          if (!response.ok) throw new Error("synth.wasm: " + response.status);
          const bytes = await response.arrayBuffer();
          // Compiled here, not on the audio thread.
          return { bytes, module: await WebAssembly.compile(bytes) };
        }),
        context.audioWorklet.addModule("synth_worklet.js"),
      ]);
      audio = { context, synth, node: null, reports: [] };
      context.addEventListener("statechange", showMusicState);
      clockFollowsMusic(context.state === "running");
      module = await loadModule(pictures, {
        showClock: showClockMilliseconds,
        startAudio: () => {
          const node = makeSynthNode(context, audio.synth);
          node.port.onmessage = onWorkletMessage;
          node.connect(context.destination);
          audio.node = node;
          ++window.demoTimes.audioNodes;
          context.resume().catch(() => {});
        },
        stopAudio: () => {
          if (audio.node) audio.node.disconnect();
          context.close();
        },
        demoStopped: () => {
          stopped = true;
        },
        frameShown: () => {
          if (window.demoTimes.firstFrame === null) window.demoTimes.firstFrame = performance.now();
          ++window.demoTimes.frames;
        },
      });
      status.hidden = true;
      call(() => module._webStartDemo(reduceBox.checked ? 1 : 0));
      if (stopped && status.hidden) say("stopped: click to start again");
    } catch (error) {
      fail("The demo could not start: " + error.message);
    }
  }

  function stopDemo() {
    call(() => module._webKey(27));
    say("stopped: click to start again");
  }

  function onKey(event) {
    if (!started) {
      // Escape never starts the show (not after the flashing warning either).
      if (event.key !== "Escape") startAsked();
    } else if (stopped) {
      location.reload();
    } else if (event.key === "Escape") {
      stopDemo();
    } else {
      resumeMusic();
      if (event.key === "f" || event.key === "F") toggleFullscreen();
    }
  }

  function onClick() {
    if (!started) startAsked();
    else if (stopped) location.reload();
    else resumeMusic();
  }

  function loadScript() {
    return new Promise((resolve, reject) => {
      const script = document.createElement("script");
      script.src = "queltravine.js";
      script.onload = resolve;
      script.onerror = () => reject(new Error("queltravine.js could not be loaded"));
      document.head.appendChild(script);
    });
  }

  // Kept for offline use and installing, once the page has loaded (not from a
  // file:// page, where browsers have no workers).
  if ("serviceWorker" in navigator && location.protocol !== "file:") {
    window.addEventListener("load", () => {
      navigator.serviceWorker.register("sw.js").catch((error) => {
        console.warn("The site is not kept for offline use: " + error.message);
      });
    });
  }

  const missing = missingFeatures();
  if (missing.length === 0 && !params.has("render")) {
    startScreen.hidden = false;
    say(START_LINE);
  }
  if (missing.length > 0) {
    fail("This browser cannot play the demo: it has no " + missing.join(" and no ") + ".");
  } else if (params.has("render")) {
    loadScript().then(renderMode).catch((error) => {
      fail("The render could not run: " + error.message);
      document.title = "render done";
    });
  } else {
    loadScript().then(() => {
      document.addEventListener("keydown", onKey);
      // A click or tap anywhere on the screen, also on the bars beside the
      // frame (a phone held upright shows more bar than frame).
      stage.addEventListener("click", onClick);
      // The events a browser counts as a gesture that allows sound.
      for (const name of ["pointerdown", "pointerup", "touchend"]) {
        document.addEventListener(name, resumeMusic);
      }
      document.addEventListener("visibilitychange", onVisibility);
      frame.addEventListener("dblclick", () => { if (started && !stopped) toggleFullscreen(); });
      fullscreenButton.hidden = !document.fullscreenEnabled;
      fullscreenButton.addEventListener("click", (event) => {
        event.stopPropagation();  // not a start, a stop or a reload
        toggleFullscreen();
      });
      if (params.has("autostart")) startAsked();
    }).catch((error) => fail(error.message + "."));
  }
})();
