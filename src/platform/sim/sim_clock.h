// SimClock: a virtual clock for tests and the offline renderer. Sleep advances
// virtual time at once, running every event scheduled up to the new time in
// time order (events at the same time in the order they were scheduled), so
// a whole night runs in well under a second and byte for byte the same.
//
// Thread safety: one thread drives the clock (the one that sleeps); the time
// may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/clock.h"

namespace velmora {

class SimClock final : public Clock {
 public:
  explicit SimClock(int32_t startSeconds = 0, int32_t utcOffsetSeconds = 0)
      : startSeconds_(startSeconds), utcOffsetSeconds_(utcOffsetSeconds) {}

  int32_t NowSeconds() override;
  std::string LocalHourMinute(int32_t seconds) override;
  void Sleep(int32_t milliseconds) override;
  int64_t MonotonicMs() override { return NowMs() + StalledMs(); }
  int64_t AsleepMs() override { return asleepMs_.load(std::memory_order_relaxed); }

  // A suspend of the computer: the calendar moves on by `milliseconds` while
  // the virtual time (and with it every event) stands still.
  void Suspend(int64_t milliseconds) {
    asleepMs_.fetch_add(milliseconds, std::memory_order_relaxed);
  }
  // The process stopped while the computer was awake (SIGSTOP, a machine
  // too busy to run it): the calendar and the monotonic clock move on by
  // `milliseconds`, while the virtual time, the device's pace with it, stands
  // still.
  void Stall(int64_t milliseconds) {
    stalledMs_.fetch_add(milliseconds, std::memory_order_relaxed);
  }
  int64_t StalledMs() const { return stalledMs_.load(std::memory_order_relaxed); }

  // Virtual milliseconds awake since the clock was made.
  int64_t NowMs() const { return nowMs_.load(std::memory_order_relaxed); }
  // Moves the time on by `milliseconds`, running the events due meanwhile.
  void Advance(int64_t milliseconds);
  // Runs `event` when the time reaches `atMs` (at once on the next advance if
  // that is already past).
  void At(int64_t atMs, std::function<void()> event);

  // Called as each Sleep begins, before the time moves: what the sleeping
  // thread set up to now holds from this time on.
  std::function<void()> onSleep;

 private:
  int32_t startSeconds_;
  int32_t utcOffsetSeconds_;
  std::atomic<int64_t> nowMs_{0};
  std::atomic<int64_t> asleepMs_{0};
  std::atomic<int64_t> stalledMs_{0};
  std::multimap<int64_t, std::function<void()>> events_;
};

}  // namespace velmora
