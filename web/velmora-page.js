// Velmora's page: the picture (velmora-page.wasm paints it as the desktop's
// window), the keys and taps, and the audio worklet that makes the sound
// (velmora-worklet.js with velmora-audio.wasm). The picture is the audio
// thread's state, posted at least twice a second and at every change; the
// keys go the other way. Nothing is fetched but the site's own files.
"use strict";
(() => {
  const KEYS = { Enter: 13, Escape: 27, " ": 32, ArrowLeft: 37, ArrowUp: 38, ArrowRight: 39,
                 ArrowDown: 40 };
  const picture = document.getElementById("picture");
  const context2d = picture.getContext("2d");
  const line = document.getElementById("line");
  const notice = document.getElementById("notice");
  const params = new URLSearchParams(location.search);
  const words = params.get("words") || "";
  const testing = params.has("test");
  document.getElementById("words").value = words;

  let page = null;        // the page's instance's exports
  let audioWasm = null;   // velmora-audio.wasm's bytes
  let audio = null;       // { context, node } while the sound plays
  let starting = false;
  const test = { lines: [], boxes: [], samples: [], keys: [], errors: [], away: [] };

  function say(text) {
    line.textContent = text;
  }

  function text(memory, pointer, length) {
    return new TextDecoder().decode(new Uint8Array(memory.buffer, pointer, length));
  }

  function showBox(caption, body) {
    notice.hidden = false;
    notice.textContent = caption + ": " + body;
    if (testing) test.boxes.push({ caption, text: body });
  }

  // The biggest whole factor of device pixels that fits the picture on the
  // screen beside the page's lines.
  function fit() {
    const ratio = window.devicePixelRatio || 1;
    const room = Math.min(window.innerWidth - 16, window.innerHeight - 150);
    const factor = Math.max(1, Math.floor(Math.min(room / 288, room / 272) * ratio));
    picture.style.width = (288 * factor) / ratio + "px";
    picture.style.height = (272 * factor) / ratio + "px";
  }

  async function load() {
    const [pageBytes, audioBytes] = await Promise.all(
      ["velmora-page.wasm", "velmora-audio.wasm"].map(async (name) => {
        const response = await fetch(name);
        if (!response.ok) throw new Error(name + ": " + response.status);
        return response.arrayBuffer();
      }));
    audioWasm = audioBytes;
    let memory = null;
    const imports = {
      velmora: {
        now_ms: () => Date.now(),
        local_minutes: (ms) => {
          const d = new Date(ms);
          return d.getHours() * 60 + d.getMinutes();
        },
        blit: (pointer, width, height) => {
          const pixels = new Uint8ClampedArray(memory.buffer, pointer, width * height * 4);
          context2d.putImageData(new ImageData(pixels.slice(), width, height), 0, 0);
        },
        box: (caption, captionLength, body, bodyLength) =>
          showBox(text(memory, caption, captionLength), text(memory, body, bodyLength)),
      },
      env: { emscripten_notify_memory_growth: () => {} },
      wasi_snapshot_preview1: { proc_exit: () => {} },
    };
    const { instance } = await WebAssembly.instantiate(pageBytes, imports);
    page = instance.exports;
    memory = page.memory;
    page._initialize();
    const utf8 = new TextEncoder().encode(words.slice(0, 2000));
    const buffer = new Uint8Array(memory.buffer, page.velmora_page_words(), 2048);
    buffer.set(utf8);
    buffer[utf8.length] = 0;
    if (page.velmora_page_start() === 1) {
      notice.hidden = false;
      notice.textContent = "Light mode needs a parallel port or a light box, which a browser " +
                           "cannot reach: velmora plays sound instead.";
    }
    if (testing) test.ready = true;
  }

  function apply(snapshot) {
    const target = page.velmora_page_snapshot();
    new Uint8Array(page.memory.buffer, target, snapshot.length).set(snapshot);
    page.velmora_page_apply();
  }

  function fromAudio(message) {
    switch (message.type) {
      case "state":
        apply(message.snapshot);
        if (testing) test.state = Date.now();
        break;
      case "line":
        console.info(message.text);
        if (testing) test.lines.push(message.text);
        break;
      case "box":
        showBox(message.caption, message.text);
        break;
      case "quit":
        stop();
        say("The sound is stopped. Press a key or tap to start it again.");
        break;
      case "samples":
        if (testing) test.samples.push({ frame: message.frame, bytes: message.bytes });
        break;
      case "away":
        if (testing) test.away.push({ ms: message.ms, frame: message.frame, frames: message.frames });
        break;
      case "key":
        if (testing) test.keys.push({ key: message.key, frame: message.frame });
        break;
      case "error":
        console.error("velmora: the audio thread failed: " + message.text);
        say("The sound could not start: " + message.text);
        break;
    }
  }

  // Within the gesture: the context is made at once (a browser lets it play
  // only so), the worklet joins it afterwards.
  async function start() {
    if (audio || starting || !page) return;
    starting = true;
    say("Starting the sound…");
    const context = new AudioContext({ sampleRate: 32000, latencyHint: "playback" });
    try {
      await context.audioWorklet.addModule("velmora-worklet.js");
      const node = new AudioWorkletNode(context, "velmora", {
        numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [1],
        processorOptions: { wasm: audioWasm, words },
      });
      node.port.onmessage = (event) => fromAudio(event.data);
      node.connect(context.destination);
      await context.resume();
      audio = { context, node };
      test.startedAt = Date.now() / 1000;
      if (page) page.velmora_page_start();  // the night starts afresh
      say(context.sampleRate === 32000 ? "The sound plays."
          : "The sound plays (the device runs at " + context.sampleRate + " Hz).");
    } catch (error) {
      context.close();
      say("The sound could not start: " + error.message);
      console.error(error);
    } finally {
      starting = false;
    }
  }

  function stop() {
    if (!audio) return;
    audio.node.port.onmessage = null;
    audio.node.disconnect();
    audio.context.close();
    audio = null;
  }

  function gesture() {
    if (!audio) start();
  }

  function key(event) {
    if (event.target instanceof HTMLInputElement) return;
    const code = KEYS[event.key];
    if (code === undefined) return;
    event.preventDefault();
    if (!audio) {
      if (!event.repeat) start();  // the first key starts the sound, as start-up does
      return;
    }
    audio.node.port.postMessage({ type: "key", key: code });
  }

  document.getElementById("words-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const value = document.getElementById("words").value.trim();
    location.search = value ? "?words=" + encodeURIComponent(value) : "";
  });
  window.addEventListener("resize", fit);
  window.addEventListener("keydown", key);
  picture.addEventListener("click", gesture);
  picture.addEventListener("touchend", gesture);
  window.addEventListener("error", (event) => testing && test.errors.push(String(event.message)));
  fit();
  if (testing) {
    // The browser tests' view of the page: what the audio thread said and
    // the samples it handed over, when asked.
    window.velmoraTest = Object.assign(test, {
      playedMs: () => page.velmora_page_played_ms(),
      startTime: () => page.velmora_page_start_time(),
      stateText: () => {
        const pointer = page.velmora_page_state_text();
        const bytes = new Uint8Array(page.memory.buffer, pointer, 256);
        return new TextDecoder().decode(bytes.subarray(0, bytes.indexOf(0)));
      },
      pixels: () => Array.from(context2d.getImageData(0, 0, 288, 272).data),
      bitmap: () => Array.from(new Uint8Array(page.memory.buffer, page.velmora_page_bitmap(),
                                              288 * 272 * 4)),
      record: (on) => audio && audio.node.port.postMessage({ type: "record", on }),
      running: () => !!audio && audio.context.state,
      suspend: () => audio.context.suspend(),
      resume: () => audio.context.resume(),
    });
  }
  load().catch((error) => {
    say("Velmora could not load: " + error.message);
    console.error(error);
  });
})();
