// The threaded sim platform: the whole program with real threads on a fast
// clock, for tests of the threads together (and ThreadSanitizer). A window
// host with a thread-safe message queue, a wave device that plays each block
// in 1000 ms of the fast clock on a thread of its own and posts its notices to
// the host, a clock that runs `speed` times faster than real time, and
// threads that can be joined at the end.
//
// Thread safety: every class here may be used from any thread, except
// RunMessageLoop, which is the window thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/threads.h"
#include "platform/wave_device.h"
#include "platform/window_host.h"

namespace velmora {

class FastClock final : public Clock {
 public:
  FastClock(int32_t startSeconds, int speed) : startSeconds_(startSeconds), speed_(speed) {}
  int32_t NowSeconds() override;
  std::string LocalHourMinute(int32_t seconds) override;
  void Sleep(int32_t milliseconds) override;
  int64_t MonotonicMs() override { return NowMs(); }
  int64_t AsleepMs() override { return 0; }
  int64_t NowMs() const;  // fast milliseconds since the clock was made
  int Speed() const { return speed_; }

 private:
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  int32_t startSeconds_;
  int speed_;
};

class QueueHost final : public WindowHost {
 public:
  bool CreateMainWindow(const std::string& title, int width, int height, Handler handler) override;
  void Show() override {}
  int RunMessageLoop() override;
  void Invalidate() override { Post({WindowEvent::kPaint}); }
  void StartTimer(uint32_t id, int periodMs) override;
  void StopTimer(uint32_t id) override;
  void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon) override;
  void ShowWarningBox(const std::string& caption, const std::string& text) override {
    ShowMessageBox(caption, text, BoxIcon::kWarning);
  }
  void PostQuit(int code) override;
  void DefaultProcessing(const WindowMessage& message) override;

  // Any thread: a message for the window thread, or a function to run there.
  void Post(const WindowMessage& message);
  void PostCall(std::function<void()> call);
  void SetClock(FastClock* clock) { clock_ = clock; }

  std::vector<std::string> Boxes();
  int Paints() const { return paints_.load(); }

 private:
  struct Item {
    WindowMessage message;
    std::function<void()> call;
  };
  Handler handler_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Item> queue_;
  std::vector<std::string> boxes_;
  bool quit_ = false;
  int quitCode_ = 0;
  bool windowAlive_ = false;
  std::atomic<int> paints_{0};
  std::atomic<bool> timerOn_{false};
  std::thread timer_;
  FastClock* clock_ = nullptr;
};

// Plays handed-over blocks one after another, each for 1000 ms of the fast
// clock, on its own thread; posts the finished-block and closed notices to
// the host. `tap` sees each block's bytes as it finishes.
class PacedWaveDevice final : public WaveDevice {
 public:
  PacedWaveDevice(QueueHost& host, FastClock& clock) : host_(host), clock_(clock) {}
  ~PacedWaveDevice() override;

  bool Open(const WaveFormat& format, WaveNoticeTarget& target, std::string& why) override;
  void Prepare(WaveHeader& header) override { header.prepared = true; }
  void Write(WaveHeader& header) override;
  void Unprepare(WaveHeader& header) override { header.prepared = false; }
  void Close() override;

  // Any thread: the device goes away (its blocks are dropped, it plays
  // nothing) and, later, comes back; each said once to the window thread.
  void Lose(const std::string& reason);
  void ComeBack();

  std::function<void(const std::vector<uint8_t>&)> tap;
  int64_t BlocksPlayed() const { return played_.load(); }

 private:
  void Play();

  QueueHost& host_;
  FastClock& clock_;
  WaveNoticeTarget* target_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<WaveHeader*> queue_;
  bool open_ = false;
  bool away_ = false;  // guarded by mutex_
  std::thread player_;
  std::atomic<int64_t> played_{0};
};

// std::thread workers, joined by JoinAll; priorities are not changed.
class JoinableThreads final : public Threads {
 public:
  ~JoinableThreads() override { JoinAll(); }
  void* Start(void (*entry)(void*), void* arg, size_t stackBytes) override;
  void SetCurrentThreadPriority(ThreadPriority) override {}
  void JoinAll();
  int failAt = 0;  // fail the start numbered this (1 = first)

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
  int started_ = 0;
};

}  // namespace velmora
