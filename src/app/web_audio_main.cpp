// The browser's audio thread: velmora's generator, ring and window logic in
// the AudioWorkletProcessor's own WebAssembly instance. The processor's
// process() calls velmora_audio_process for each quantum of frames: the
// device hands the ring's blocks to the context frame by frame, and a block
// fully handed over is a finished block, as a desktop device's notice is;
// the window's timers and the end of the creation pause are run from there
// too. The generator is a coroutine: its sleeps unwind to the processor's
// script (the module is built with Asyncify), which resumes it once its
// time has come (velmora_audio_generator).
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/state_snapshot.h"
#include "platform/web/web_bridge.h"
#include "platform/web/web_clock.h"
#include "platform/web/web_options.h"

extern "C" {
// Unwinds the generator to the processor's script, which rewinds it later.
VELMORA_WEB_IMPORT(sleep) void velmora_sleep();
// A box's caption and text, for the page to show.
VELMORA_WEB_IMPORT(box)
void velmora_box(const char* caption, int32_t captionLength, const char* text, int32_t textLength,
                 int32_t icon);
// The close path has run: the sound is over.
VELMORA_WEB_IMPORT(quit) void velmora_quit(int32_t code);
}

namespace velmora {
namespace {

// A quantum is 128 frames; a catch-up after a stop hands over a block at a time.
constexpr int kMaxFrames = kBlockBytes;
constexpr int64_t kPostEveryMs = 500;

class WorkletWaveDevice final : public WaveDevice {
 public:
  bool Open(const WaveFormat&, WaveNoticeTarget&, std::string&) override {
    open_ = true;
    return true;
  }
  void Prepare(WaveHeader& header) override { header.prepared = true; }
  void Write(WaveHeader& header) override {
    if (open_) queue_.push_back(&header);
  }
  void Unprepare(WaveHeader& header) override { header.prepared = false; }
  void Close() override {
    open_ = false;
    queue_.clear();
    offset_ = 0;
  }

  // Hands `count` samples to `out`; silence where no block is held. Blocks
  // handed over to their end go to `done`.
  void Render(uint8_t* out, int32_t count, std::vector<WaveHeader*>& done) {
    while (count > 0) {
      if (queue_.empty()) {
        std::memset(out, kSilence, static_cast<size_t>(count));
        return;
      }
      WaveHeader* header = queue_.front();
      const int32_t n = std::min(count, header->bufferLength - offset_);
      CopyBlockSamples(header->data, offset_, n, out);
      out += n;
      count -= n;
      offset_ += n;
      if (offset_ == header->bufferLength) {
        queue_.pop_front();
        offset_ = 0;
        done.push_back(header);
      }
    }
  }

 private:
  bool open_ = false;
  std::deque<WaveHeader*> queue_;
  int32_t offset_ = 0;
};

class WorkletHost final : public WindowHost {
 public:
  explicit WorkletHost(Clock& clock) : clock_(clock) {}

  bool CreateMainWindow(const std::string&, int, int, Handler handler) override {
    handler_ = std::move(handler);
    return handler_(WindowMessage{WindowEvent::kCreate}) != -1;
  }
  void Show() override {}
  int RunMessageLoop() override { return 0; }
  void Invalidate() override { changed = true; }
  void StartTimer(uint32_t id, int periodMs) override {
    timers_[id] = Timer{periodMs, clock_.MonotonicMs() + periodMs};
  }
  void StopTimer(uint32_t id) override { timers_.erase(id); }
  void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon icon) override {
    velmora_box(caption.data(), static_cast<int32_t>(caption.size()), text.data(),
                static_cast<int32_t>(text.size()), static_cast<int32_t>(icon));
  }
  void ShowWarningBox(const std::string& caption, const std::string& text) override {
    ShowMessageBox(caption, text, BoxIcon::kWarning);
  }
  void PostQuit(int code) override {
    if (quit) return;
    quit = true;
    velmora_quit(code);
  }
  void DefaultProcessing(const WindowMessage& message) override {
    if (message.event == WindowEvent::kClose) handler_(WindowMessage{WindowEvent::kDestroy});
  }

  void Deliver(const WindowMessage& message) {
    if (quit) return;
    handler_(message);
    DefaultProcessing(message);
  }
  // The timers due by now, each once however late (a late tick is one tick).
  void RunTimers() {
    const int64_t now = clock_.MonotonicMs();
    for (auto& [id, timer] : std::map<uint32_t, Timer>(timers_)) {
      if (now < timer.dueMs) continue;
      auto kept = timers_.find(id);
      if (kept != timers_.end()) {
        kept->second.dueMs = std::max(timer.dueMs + timer.periodMs, now - timer.periodMs / 2);
      }
      Deliver(WindowMessage{WindowEvent::kTimer, id});
    }
  }

  bool changed = true;
  bool quit = false;

 private:
  struct Timer {
    int periodMs;
    int64_t dueMs;
  };
  Clock& clock_;
  Handler handler_;
  std::map<uint32_t, Timer> timers_;
};

// Nothing is drawn on the audio thread: the page paints from the snapshots.
class NoCanvas final : public Canvas {
 public:
  void SelectPen(Color, int) override {}
  void SelectBrush(Color) override {}
  void Rectangle(int, int, int, int) override {}
  void MoveTo(int, int) override {}
  void LineTo(int, int) override {}
  void SetTextColor(Color) override {}
  void TextOut(int, int, std::string_view) override {}
  void BeginPaint() override {}
  void CopyToWindow(int, int, int, int) override {}
  void WindowLine(Color, int, int, int, int) override {}
  void EndPaint() override {}
};

// Sound mode only (light-mode words never reach the instance).
class NoPort final : public Port {
 public:
  void PortWrite(uint16_t, uint8_t) override {}
};
class NoPortAccess final : public PortAccess {
 public:
  PortAccessResult SetUpPortAccess(uint16_t) override { return PortAccessResult::kNoDriverNeeded; }
  void ReportFailure(WindowHost&) override {}
};

// The generator's thread, kept to be run as the coroutine.
class CoroutineThreads final : public Threads {
 public:
  void* Start(void (*entry)(void*), void* arg, size_t) override {
    entry_ = entry;
    arg_ = arg;
    return this;
  }
  void SetCurrentThreadPriority(ThreadPriority) override {}
  void Run() {
    if (entry_ != nullptr) entry_(arg_);
  }
  bool Started() const { return entry_ != nullptr; }

 private:
  void (*entry_)(void*) = nullptr;
  void* arg_ = nullptr;
};

struct Night {
  explicit Night(std::vector<std::string> words)
      : host(clock),
        app(state,
            AppServices{clock, threads, device, port, host, canvas, portAccess, nullptr,
                        [this](int32_t milliseconds, std::function<void()> end) {
                          pauseEnd = std::move(end);
                          pauseDueMs = clock.MonotonicMs() + milliseconds;
                        }},
            std::move(words)) {
    clock.sleeper = [this](int32_t milliseconds) {
      wakeAtMs = clock.MonotonicMs() + milliseconds;
      asleep = true;
      velmora_sleep();
      asleep = false;
    };
  }

  SharedState state;
  WebClock clock;
  CoroutineThreads threads;
  WorkletWaveDevice device;
  NoPort port;
  WorkletHost host;
  NoCanvas canvas;
  NoPortAccess portAccess;
  App app;

  std::function<void()> pauseEnd;  // set while the creation pause lasts
  int64_t pauseDueMs = 0;
  std::vector<WaveHeader*> done;  // finished blocks waiting for the pause's end
  bool generatorRan = false;
  bool asleep = false;
  int64_t wakeAtMs = 0;
  int64_t postedAtMs = INT64_MIN / 2;
  StateSnapshot snapshot{};
  uint8_t samples[kMaxFrames] = {};
  float frames[kMaxFrames] = {};
};

std::unique_ptr<Night> night;
char words[2048];

}  // namespace
}  // namespace velmora

using velmora::night;

// The option words, as the page's address gives them (zero-terminated).
VELMORA_WEB_EXPORT(velmora_audio_words) char* velmora_audio_words() {
  return velmora::words;
}

// Start-up, as window creation on the desktop: the healing pattern begins.
// Returns whether the night runs.
VELMORA_WEB_EXPORT(velmora_audio_start) int32_t velmora_audio_start() {
  using namespace velmora;
  night = std::make_unique<Night>(ReadWebWords(velmora::words).words);
  App& app = night->app;
  return night->host.CreateMainWindow(
             "", chartLayout.windowWidth, chartLayout.windowHeight,
             [&app](const WindowMessage& message) { return MainWindowProc(app, message); })
             ? 1
             : 0;
}

// One quantum of `count` frames (at most one block's): fills the sample buffers and
// runs what falls due. Returns bit 0 when the generator is to be resumed, bit
// 1 when a snapshot is to be posted.
VELMORA_WEB_EXPORT(velmora_audio_process) int32_t velmora_audio_process(int32_t count) {
  using namespace velmora;
  if (!night) return 0;
  Night& n = *night;
  count = std::clamp(count, 0, kMaxFrames);
  n.device.Render(n.samples, count, n.done);
  for (int32_t i = 0; i < count; ++i) {
    n.frames[i] = static_cast<float>(n.samples[i] - 128) / 128.0f;
  }
  const int64_t now = n.clock.MonotonicMs();
  if (n.pauseEnd && now >= n.pauseDueMs) std::exchange(n.pauseEnd, {})();
  if (!n.pauseEnd) {
    for (WaveHeader* header : std::exchange(n.done, {})) {
      if (!n.host.quit) n.app.OnWaveBlockDone(header);
    }
    n.host.RunTimers();
  }
  int32_t due = 0;
  if (n.threads.Started() && (!n.generatorRan || (n.asleep && now >= n.wakeAtMs))) due |= 1;
  if (n.host.changed || now - n.postedAtMs >= kPostEveryMs) due |= 2;
  return due;
}

// Runs the generator until its next sleep (the script rewinds it there).
VELMORA_WEB_EXPORT(velmora_audio_generator) void velmora_audio_generator() {
  if (!night) return;
  night->generatorRan = true;
  night->threads.Run();
}

// A key of the page, as the window's key message.
VELMORA_WEB_EXPORT(velmora_audio_key) void velmora_audio_key(uint32_t key) {
  using namespace velmora;
  if (!night) return;
  night->host.Deliver(WindowMessage{WindowEvent::kKeyDown, key});
  night->host.changed = true;
}

// The state for the page, its repaint requests handed over.
VELMORA_WEB_EXPORT(velmora_audio_snapshot) void* velmora_audio_snapshot() {
  if (!night) return nullptr;
  velmora::TakeSnapshot(night->state, night->snapshot);
  night->host.changed = false;
  night->postedAtMs = night->clock.MonotonicMs();
  return &night->snapshot;
}
VELMORA_WEB_EXPORT(velmora_audio_snapshot_size) int32_t velmora_audio_snapshot_size() {
  return sizeof(velmora::StateSnapshot);
}

// The last quantum: as the context's floats, and as the ring's 8-bit samples.
VELMORA_WEB_EXPORT(velmora_audio_frames) float* velmora_audio_frames() {
  return night ? night->frames : nullptr;
}
VELMORA_WEB_EXPORT(velmora_audio_samples) uint8_t* velmora_audio_samples() {
  return night ? night->samples : nullptr;
}

// Asyncify's record of the unwound generator: {first free byte, end}.
VELMORA_WEB_EXPORT(velmora_audio_unwind_data) void* velmora_audio_unwind_data() {
  alignas(16) static uint8_t stack[64 * 1024];
  static uint32_t data[2];
  data[0] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(stack));
  data[1] = data[0] + sizeof stack;
  return data;
}
