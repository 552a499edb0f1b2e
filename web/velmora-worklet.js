// Velmora's audio thread: the AudioWorkletProcessor "velmora" runs the
// generator, the ring and the window's logic in a WebAssembly instance of its
// own (velmora-audio.wasm), so the sound is made here even while the page's
// own thread is throttled or frozen. Each quantum asks the instance for its
// frames; the generator is a coroutine that Asyncify unwinds at each of its
// sleeps and this script rewinds when the instance says it is due.
"use strict";

// A context that plays calls the processor every few milliseconds; a longer
// silence means the browser stopped the audio.
const CALLED_AT_LEAST_EVERY_MS = 500;

// Text of the instance's memory, as bytes below 128 or UTF-8 (the audio
// thread has no TextDecoder).
function readText(memory, pointer, length) {
  const bytes = new Uint8Array(memory.buffer, pointer, length);
  let text = "";
  for (let i = 0; i < bytes.length; ++i) text += String.fromCharCode(bytes[i]);
  try {
    return decodeURIComponent(escape(text));
  } catch (e) {
    return text;
  }
}

function writeText(memory, pointer, capacity, text) {
  const utf8 = unescape(encodeURIComponent(text));
  const bytes = new Uint8Array(memory.buffer, pointer, capacity);
  const length = Math.min(utf8.length, capacity - 1);
  for (let i = 0; i < length; ++i) bytes[i] = utf8.charCodeAt(i);
  bytes[length] = 0;
}

class AudioNight {
  // `module`: velmora-audio.wasm compiled; `post(message, transfer)` sends
  // to the page.
  constructor(module, words, post) {
    this.post = post;
    this.unwinding = false;
    this.rewinding = false;
    this.started = false;
    this.line = "";
    const imports = {
      velmora: {
        now_ms: () => this.virtualNow ?? Date.now(),
        local_minutes: (ms) => {
          const d = new Date(ms);
          return d.getHours() * 60 + d.getMinutes();
        },
        sleep: () => this.sleep(),
        box: (caption, captionLength, text, textLength, icon) =>
          post({ type: "box", caption: readText(this.memory, caption, captionLength),
                 text: readText(this.memory, text, textLength), icon }),
        quit: (code) => post({ type: "quit", code }),
      },
      env: { emscripten_notify_memory_growth: () => {} },
      wasi_snapshot_preview1: {
        fd_write: (fd, iovs, count, written) => this.write(iovs, count, written),
        fd_close: () => 0,
        fd_seek: () => 70,  // ESPIPE: stdout and stderr are not files
        proc_exit: () => {},
      },
    };
    this.exports = new WebAssembly.Instance(module, imports).exports;
    this.memory = this.exports.memory;
    this.exports._initialize();
    writeText(this.memory, this.exports.velmora_audio_words(), 2048, words);
    this.running = this.exports.velmora_audio_start() === 1;
    this.snapshotSize = this.exports.velmora_audio_snapshot_size();
  }

  // The instance's stderr lines go to the page (and its console).
  write(iovs, count, written) {
    const view = new DataView(this.memory.buffer);
    let total = 0;
    for (let i = 0; i < count; ++i) {
      const pointer = view.getUint32(iovs + 8 * i, true);
      const length = view.getUint32(iovs + 8 * i + 4, true);
      this.line += readText(this.memory, pointer, length);
      total += length;
    }
    let end;
    while ((end = this.line.indexOf("\n")) >= 0) {
      this.post({ type: "line", text: this.line.slice(0, end) });
      this.line = this.line.slice(end + 1);
    }
    view.setUint32(written, total, true);
    return 0;
  }

  sleep() {
    const e = this.exports;
    if (this.rewinding) {
      e.asyncify_stop_rewind();
      this.rewinding = false;
      return;
    }
    this.unwindData = e.velmora_audio_unwind_data();
    e.asyncify_start_unwind(this.unwindData);
    this.unwinding = true;
  }

  resume() {
    const e = this.exports;
    if (this.started) {
      e.asyncify_start_rewind(this.unwindData);
      this.rewinding = true;
    }
    this.started = true;
    e.velmora_audio_generator();
    if (this.unwinding) {
      e.asyncify_stop_unwind();
      this.unwinding = false;
    }
  }

  // Fills `out` (one channel's frames); returns the 8-bit samples' view.
  render(out) {
    const e = this.exports;
    this.keepUp();
    const due = e.velmora_audio_process(out.length);
    out.set(new Float32Array(this.memory.buffer, e.velmora_audio_frames(), out.length));
    const samples = new Uint8Array(this.memory.buffer, e.velmora_audio_samples(), out.length);
    if (due & 1) this.resume();
    if (due & 2) this.postSnapshot();
    return samples;
  }

  postSnapshot() {
    const snapshot = new Uint8Array(this.memory.buffer, this.exports.velmora_audio_snapshot(),
                                    this.snapshotSize).slice();
    this.post({ type: "state", snapshot }, [snapshot.buffer]);
  }

  // Where the processor was not called for a while, the night catches up
  // with the clock; returns whether it had to.
  keepUp() {
    const now = Date.now();
    const behind = this.lastMs !== undefined && now - this.lastMs > CALLED_AT_LEAST_EVERY_MS;
    if (behind) this.catchUp(this.lastMs, now);
    this.lastMs = now;
    return behind;
  }

  // Asked by the page each second: while the processor is not called (a
  // suspended context), the night goes on by the clock, and the page's rows
  // and cursor with it.
  keepTime() {
    if (this.lastMs !== undefined && this.keepUp()) this.postSnapshot();
  }

  // The audio thread was not called from `fromMs` to `toMs` (the context
  // suspended, the page frozen): the night goes on by the clock as if the
  // frames had been handed over, a block at a time on a clock that reads the
  // time of each, and the sound goes on at the present position: the time
  // away is skipped, not postponed, and the generator keeps up all the way.
  catchUp(fromMs, toMs) {
    const e = this.exports;
    const frames = Math.floor((toMs - fromMs) * 32);
    for (let done = 0; done < frames;) {
      const count = Math.min(32000, frames - done);
      done += count;
      this.virtualNow = fromMs + done / 32;
      if (e.velmora_audio_process(count) & 1) this.resume();
      while (e.velmora_audio_process(0) & 1) this.resume();
    }
    this.virtualNow = undefined;
    this.post({ type: "away", ms: toMs - fromMs, frames });
  }

  key(code) {
    this.exports.velmora_audio_key(code);
  }
}

if (typeof AudioWorkletProcessor !== "undefined") {
  class VelmoraProcessor extends AudioWorkletProcessor {
    constructor(options) {
      super();
      const { wasm, words } = options.processorOptions;
      this.recording = null;  // the samples handed over, when the page asks
      this.muted = false;     // paused from the lock screen: silence, the night goes on
      this.port.onmessage = (event) => this.message(event.data);
      try {
        this.night = new AudioNight(new WebAssembly.Module(wasm), words, (message, transfer) => {
          if (message.type === "away") message.frame = currentFrame;
          this.port.postMessage(message, transfer);
        });
      } catch (error) {
        this.port.postMessage({ type: "error", text: String(error && error.stack || error) });
      }
    }

    message(data) {
      if (!this.night) return;
      if (data.type === "key") {
        this.night.key(data.key);
        this.port.postMessage({ type: "key", key: data.key, frame: currentFrame });
      } else if (data.type === "mute") {
        this.muted = !!data.on;
      } else if (data.type === "clock") {
        this.night.keepTime();
      } else if (data.type === "record") {
        this.recording = data.on ? { frame: currentFrame, chunks: [], length: 0 } : null;
      }
    }

    process(inputs, outputs) {
      const channels = outputs[0];
      if (!this.night || channels.length === 0) return true;
      const samples = this.night.render(channels[0]);
      if (this.muted) channels[0].fill(0);
      for (let c = 1; c < channels.length; ++c) channels[c].set(channels[0]);
      const r = this.recording;
      if (r) {
        r.chunks.push(samples.slice());
        r.length += samples.length;
        if (r.length >= 16000) {
          const bytes = new Uint8Array(r.length);
          let at = 0;
          for (const chunk of r.chunks) {
            bytes.set(chunk, at);
            at += chunk.length;
          }
          this.port.postMessage({ type: "samples", frame: r.frame, bytes }, [bytes.buffer]);
          r.frame += r.length;
          r.chunks = [];
          r.length = 0;
        }
      }
      return true;
    }
  }
  registerProcessor("velmora", VelmoraProcessor);
} else if (typeof module !== "undefined") {
  module.exports = { AudioNight };  // for a check outside a browser
}
