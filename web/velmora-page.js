// Velmora's page: the picture (velmora-page.wasm paints it as the desktop's
// window), the keys and taps, and the audio worklet that makes the sound
// (velmora-worklet.js with velmora-audio.wasm). The picture is the audio
// thread's state, posted at least twice a second and at every change; the
// keys and the buttons go the other way. Nothing is fetched but the site's
// own files, which a service worker keeps for use offline (velmora-sw.js).
// On a phone: a looping, nearly silent <audio> element and Media Session
// keep the sound going with the screen off where the system allows; when
// the system takes the sound away the night goes on by the clock, and the
// sound comes back at its present position.
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
  let painted = false;    // the first picture is marked for bench/web_cpu.py
  let stage = "";         // the STATE row's label, for Media Session
  let inNight = false;    // the phase the buttons show
  let wakeLock = null;
  const test = { lines: [], boxes: [], samples: [], keys: [], errors: [], away: [],
                 silentTicks: 0 };
  const nightButton = document.getElementById("night");
  const planButtons = Array.from(document.querySelectorAll("#buttons .plan"));
  const awake = document.getElementById("awake");

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
  // screen beside the page's lines and buttons, without scrolling.
  function fit() {
    const ratio = window.devicePixelRatio || 1;
    const main = document.querySelector("main");
    const rest = main.getBoundingClientRect().height - picture.getBoundingClientRect().height;
    const width = window.innerWidth - 16;
    const height = window.innerHeight - rest;
    const factor = Math.max(1, Math.floor(Math.min(width / 288, height / 272) * ratio));
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
          if (!painted) {
            painted = true;
            performance.mark("velmora-first-picture");
          }
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

  function stateText() {
    const pointer = page.velmora_page_state_text();
    const bytes = new Uint8Array(page.memory.buffer, pointer, 256);
    return new TextDecoder().decode(bytes.subarray(0, bytes.indexOf(0)));
  }

  function apply(snapshot) {
    const target = page.velmora_page_snapshot();
    new Uint8Array(page.memory.buffer, target, snapshot.length).set(snapshot);
    page.velmora_page_apply();
    // The buttons' words follow the phase; the page is left alone (no layout,
    // no paint) while the phase stands.
    const night = page.velmora_page_in_night() === 1;
    if (night !== inNight) {
      inNight = night;
      nightButton.textContent = night ? "Stop night" : "Start night";
      for (const button of planButtons) button.disabled = night;
    }
    const label = stateText();
    if (label !== stage) {
      stage = label;
      if ("mediaSession" in navigator && typeof MediaMetadata !== "undefined") {
        navigator.mediaSession.metadata = new MediaMetadata({
          title: "Velmora", artist: stage, album: "Velmora",
          artwork: [{ src: "velmora-512.png", sizes: "512x512", type: "image/png" }],
        });
      }
    }
  }

  function fromAudio(message) {
    switch (message.type) {
      case "state":
        apply(message.snapshot);
        if (testing) test.state = performance.now();
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
        if (testing) test.keys.push({ key: message.key, frame: message.frame, at: performance.now() });
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
    // iOS 17 and later: sound that goes on with the screen locked.
    if (navigator.audioSession) navigator.audioSession.type = "playback";
    const context = new AudioContext({ sampleRate: 32000, latencyHint: "playback" });
    const silent = silentElement(context.sampleRate);
    silent.play().catch(() => {});  // within the gesture, as a browser wants
    try {
      await context.audioWorklet.addModule("velmora-worklet.js");
      const node = new AudioWorkletNode(context, "velmora", {
        numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [1],
        processorOptions: { wasm: audioWasm, words },
      });
      node.port.onmessage = (event) => fromAudio(event.data);
      node.connect(context.destination);
      await context.resume();
      // Where the worklet is not called (a suspended context, a stalled
      // device), it keeps the night's time at this page's asking each second,
      // so the rows and the cursor move on; otherwise the asking costs nothing.
      const keeper = setInterval(() => node.port.postMessage({ type: "clock" }), 1000);
      audio = { context, node, silent, paused: false, keeper };
      context.onstatechange = () => stateChanged(audio);
      mediaSession(true);
      keepAwake();
      test.startedAt = Date.now() / 1000;
      if (page) page.velmora_page_start();  // the night starts afresh
      say(context.sampleRate === 32000 ? "The sound plays."
          : "The sound plays (the device runs at " + context.sampleRate + " Hz).");
    } catch (error) {
      context.close();
      silent.pause();
      say("The sound could not start: " + error.message);
      console.error(error);
    } finally {
      starting = false;
    }
  }

  function stop() {
    if (!audio) return;
    clearInterval(audio.keeper);
    audio.context.onstatechange = null;
    audio.node.port.onmessage = null;
    audio.node.disconnect();
    audio.context.close();
    audio.silent.pause();
    URL.revokeObjectURL(audio.silent.src);
    audio = null;
    mediaSession(false);
    keepAwake();
  }

  // A looping <audio> element of near silence (one step of sixteen bits,
  // never digital silence), made here at the context's rate: while it plays,
  // a phone treats the page as one that plays sound, and shows its controls.
  function silentElement(rate) {
    const frames = rate * 2;
    const bytes = new ArrayBuffer(44 + 2 * frames);
    const view = new DataView(bytes);
    const ascii = (at, text) => [...text].forEach((c, i) => view.setUint8(at + i, c.charCodeAt(0)));
    ascii(0, "RIFF"); view.setUint32(4, 36 + 2 * frames, true); ascii(8, "WAVEfmt ");
    view.setUint32(16, 16, true); view.setUint16(20, 1, true); view.setUint16(22, 1, true);
    view.setUint32(24, rate, true); view.setUint32(28, 2 * rate, true);
    view.setUint16(32, 2, true); view.setUint16(34, 16, true);
    ascii(36, "data"); view.setUint32(40, 2 * frames, true);
    for (let i = 0; i < frames; ++i) view.setInt16(44 + 2 * i, i % 2 ? 1 : -1, true);
    return silentPlayer(URL.createObjectURL(new Blob([bytes], { type: "audio/wav" })));
  }

  function silentPlayer(url) {
    const element = new Audio(url);
    element.loop = true;
    element.addEventListener("timeupdate", () => { if (document.hidden) test.silentTicks++; });
    return element;
  }

  // Media Session: "Velmora" and the stage on the lock screen; pause
  // silences the sound while the night goes on by the clock, play brings it
  // back at the present position.
  function mediaSession(on) {
    if (!("mediaSession" in navigator)) return;
    const session = navigator.mediaSession;
    session.playbackState = on ? "playing" : "none";
    session.setActionHandler("play", on ? () => pause(false) : null);
    session.setActionHandler("pause", on ? () => pause(true) : null);
  }

  function pause(paused) {
    if (!audio) return;
    audio.paused = paused;
    audio.node.port.postMessage({ type: "mute", on: paused });
    navigator.mediaSession.playbackState = paused ? "paused" : "playing";
    if (!paused) bringBack();
    sayPlaying();
  }

  function sayPlaying() {
    say(audio.paused ? "The sound is paused; the night goes on. Play brings it back."
                     : "The sound plays.");
  }

  // The system took the sound away (a call, another app, a locked phone):
  // the page says so; the sound comes back at the next gesture, or by itself.
  function stateChanged(current) {
    if (audio !== current) return;
    if (current.context.state === "running") {
      if (!current.paused && current.silent.paused) current.silent.play().catch(() => {});
      sayPlaying();
    } else {
      say("The system stopped the sound; the night goes on. Tap or press a key to bring it back.");
    }
  }

  function bringBack() {
    if (!audio) return;
    if (audio.context.state !== "running") audio.context.resume().catch(() => {});
    if (audio.silent.paused) audio.silent.play().catch(() => {});
  }

  // The option to keep the screen on: off by default (the screen may sleep).
  async function keepAwake() {
    const wanted = awake.checked && audio && document.visibilityState === "visible";
    if (wanted && !wakeLock && navigator.wakeLock) {
      try {
        wakeLock = await navigator.wakeLock.request("screen");
        wakeLock.addEventListener("release", () => { wakeLock = null; });
      } catch (error) {
        wakeLock = null;
      }
    } else if (!wanted && wakeLock) {
      wakeLock.release();
      wakeLock = null;
    }
  }

  // A key or a button: the first one starts the sound (as start-up does), one
  // while the system holds the sound brings it back; the rest are the
  // window's keys.
  function send(code, repeat) {
    if (!audio) {
      if (!repeat) start();
      return;
    }
    if (audio.context.state !== "running" && !audio.paused) {
      bringBack();
      return;
    }
    audio.node.port.postMessage({ type: "key", key: code });
  }

  function gesture() {
    if (!audio) start();
    else if (audio.context.state !== "running") bringBack();
  }

  function key(event) {
    if (event.target instanceof HTMLInputElement) return;
    const code = KEYS[event.key];
    if (code === undefined) return;
    event.preventDefault();
    send(code, event.repeat);
  }

  document.getElementById("words-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const value = document.getElementById("words").value.trim();
    location.search = value ? "?words=" + encodeURIComponent(value) : "";
  });
  for (const button of document.querySelectorAll("#buttons button")) {
    button.addEventListener("click", () => send(Number(button.dataset.key), false));
  }
  if (navigator.wakeLock) {
    awake.addEventListener("change", keepAwake);
  } else {
    awake.disabled = true;
    awake.parentElement.title = "This browser cannot keep the screen on.";
  }
  // A page the browser froze and thawed: its media element says it plays
  // but stands still, and does not start again (seen in Chromium); a new
  // one does.
  document.addEventListener("resume", () => {
    if (!audio) return;
    audio.silent.pause();
    audio.silent = silentPlayer(audio.silent.src);
    if (!audio.paused) bringBack();
  });
  document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "visible") {
      if (audio && !audio.paused) bringBack();
      keepAwake();
    }
  });
  if ("serviceWorker" in navigator && window.isSecureContext) {
    navigator.serviceWorker.register("velmora-sw.js").catch(
      (error) => console.info("velmora: no offline copy: " + error.message));
  }
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
      stateText,
      silentPlaying: () => !!audio && !audio.silent.paused,
      screenKeptOn: () => !!wakeLock,
      mediaArtist: () => navigator.mediaSession.metadata && navigator.mediaSession.metadata.artist,
      offline: () => !!navigator.serviceWorker.controller,
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
