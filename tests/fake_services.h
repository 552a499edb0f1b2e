// Recording stand-ins for the platform services, for the painter and the
// main-window tests: each call is appended to a shared log.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/port.h"
#include "platform/port_access.h"
#include "platform/power.h"
#include "platform/raster/raster_canvas.h"
#include "platform/sim/sim_clock.h"
#include "platform/threads.h"
#include "platform/wave_device.h"
#include "platform/window_host.h"

namespace velmora::testing {

using CallLog = std::vector<std::string>;

inline std::string Hex(unsigned v) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", v);
  return text;
}

// Text as drawn: where, in which colour, what.
struct TextDraw {
  int x, y;
  Color color;
  std::string text;
};

// Records the text and marks one pixel per character so text is visible in
// the raster without a font.
class RecordingText final : public TextRenderer {
 public:
  std::vector<TextDraw> draws;
  void Draw(Raster& raster, int x, int y, Color color, std::string_view text) override {
    draws.push_back({x, y, color, std::string(text)});
    for (size_t i = 0; i < text.size(); ++i) raster.Plot(x + static_cast<int>(i) * 6, y + 5, color);
  }
  std::vector<std::string> TextsAt(int y) const {
    std::vector<std::string> out;
    for (const TextDraw& d : draws) {
      if (d.y == y) out.push_back(d.text);
    }
    return out;
  }
};

class FakeHost final : public WindowHost {
 public:
  explicit FakeHost(CallLog& log) : log_(log) {}
  Handler handler;
  std::vector<WindowMessage> script;  // delivered by RunMessageLoop
  int invalidations = 0;
  int quitCode = -1;
  bool windowAlive = false;
  std::vector<std::string> boxes;

  bool CreateMainWindow(const std::string& title, int width, int height, Handler h) override {
    log_.push_back("window " + title + " " + std::to_string(width) + "x" + std::to_string(height));
    handler = std::move(h);
    windowAlive = true;
    if (handler({WindowEvent::kCreate}) == -1) windowAlive = false;
    return windowAlive;
  }
  void Show() override { log_.push_back("show"); }
  int RunMessageLoop() override {
    for (const WindowMessage& m : script) {
      if (quitCode != -1) break;
      Deliver(m);
    }
    return quitCode;
  }
  void Deliver(const WindowMessage& m) {
    handler(m);
    DefaultProcessing(m);
  }
  void Invalidate() override { ++invalidations; }
  void StartTimer(uint32_t id, int ms) override {
    log_.push_back("timer " + Hex(id) + " " + std::to_string(ms));
  }
  void StopTimer(uint32_t id) override { log_.push_back("kill timer " + Hex(id)); }
  void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon) override {
    boxes.push_back(caption + ": " + text);
    log_.push_back("box " + caption);
  }
  void ShowWarningBox(const std::string& caption, const std::string& text) override {
    ShowMessageBox(caption, text, BoxIcon::kWarning);
  }
  void PostQuit(int code) override {
    log_.push_back("quit " + std::to_string(code));
    if (quitCode == -1) quitCode = code;
  }
  void DefaultProcessing(const WindowMessage& m) override {
    if (m.event == WindowEvent::kClose && windowAlive) {
      windowAlive = false;
      log_.push_back("destroy");
      handler({WindowEvent::kDestroy});
    }
  }

 private:
  CallLog& log_;
};

class LoggingClock final : public Clock {
 public:
  LoggingClock(CallLog& log, SimClock& clock) : log_(log), clock_(clock) {}
  int32_t NowSeconds() override { return clock_.NowSeconds(); }
  std::string LocalHourMinute(int32_t s) override { return clock_.LocalHourMinute(s); }
  void Sleep(int32_t ms) override {
    log_.push_back("sleep " + std::to_string(ms));
    clock_.Sleep(ms);
  }
  int64_t MonotonicMs() override { return clock_.MonotonicMs(); }
  int64_t AsleepMs() override { return clock_.AsleepMs(); }

 private:
  CallLog& log_;
  SimClock& clock_;
};

// Starts nothing: records the start and hands back a token, or fails the
// start numbered `failAt` (1 = the first).
class FakeThreads final : public Threads {
 public:
  explicit FakeThreads(CallLog& log) : log_(log) {}
  int failAt = 0;
  int started = 0;
  std::vector<std::pair<void (*)(void*), void*>> entries;
  void* Start(void (*entry)(void*), void* arg, size_t stack) override {
    ++started;
    log_.push_back("thread stack " + std::to_string(stack));
    if (started == failAt) return nullptr;
    entries.emplace_back(entry, arg);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(started));
  }
  void SetCurrentThreadPriority(ThreadPriority) override {}

 private:
  CallLog& log_;
};

class LoggingWave final : public WaveDevice {
 public:
  explicit LoggingWave(CallLog& log) : log_(log) {}
  const std::array<WaveHeader, 16>* headers = nullptr;  // to name blocks by index
  bool opens = true;
  bool Open(const WaveFormat& f, WaveNoticeTarget&, std::string& why) override {
    log_.push_back("wave open " + std::to_string(f.samplesPerSec));
    if (!opens) why = "no device here";
    return opens;
  }
  void Prepare(WaveHeader& h) override {
    h.prepared = true;
    ++prepares;
  }
  void Write(WaveHeader& h) override { log_.push_back("wave write " + Index(h)); }
  void Unprepare(WaveHeader& h) override { h.prepared = false; }
  void Close() override { log_.push_back("wave close"); }
  int prepares = 0;

 private:
  std::string Index(const WaveHeader& h) const {
    return headers ? std::to_string(&h - headers->data()) : "?";
  }
  CallLog& log_;
};

class FakePortAccess final : public PortAccess {
 public:
  explicit FakePortAccess(CallLog& log) : log_(log) {}
  PortAccessResult result = PortAccessResult::kNoDriverNeeded;
  uint16_t base = 0;  // what set-up was asked for
  PortAccessResult SetUpPortAccess(uint16_t portBase) override {
    log_.push_back("port access");
    base = portBase;
    return result;
  }
  void ReportFailure(WindowHost& host) override {
    host.ShowMessageBox("ERROR", "no port", BoxIcon::kNone);
  }

 private:
  CallLog& log_;
};

class FakePower final : public Power {
 public:
  explicit FakePower(CallLog& log) : log_(log) {}
  bool refuse = false;
  bool Hold(std::string& why) override {
    log_.push_back("power hold");
    if (refuse) why = "no bus";
    return !refuse;
  }
  void Release() override { log_.push_back("power release"); }

 private:
  CallLog& log_;
};

class LoggingPort final : public Port {
 public:
  explicit LoggingPort(CallLog& log) : log_(log) {}
  void PortWrite(uint16_t port, uint8_t value) override {
    log_.push_back("port " + Hex(port) + "=" + std::to_string(value));
  }

 private:
  CallLog& log_;
};

// A port any thread may write: keeps only the last value and a count (a light
// thread writes millions a second).
class CountingPort final : public Port {
 public:
  void PortWrite(uint16_t, uint8_t value) override {
    last.store(value);
    count.fetch_add(1);
  }
  std::atomic<int> last{-1};
  std::atomic<int64_t> count{0};
};

}  // namespace velmora::testing
