// SimClock: a virtual clock for tests and the offline renderer. Sleep advances
// virtual time at once; local time is UTC shifted by a fixed offset.
//
// Thread safety: any thread may call; time only moves forward.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace velmora {

class SimClock final : public Clock {
 public:
  explicit SimClock(int32_t startSeconds = 0, int32_t utcOffsetSeconds = 0)
      : startSeconds_(startSeconds), utcOffsetSeconds_(utcOffsetSeconds) {}

  int32_t NowSeconds() override;
  std::string LocalHourMinute(int32_t seconds) override;
  void Sleep(int32_t milliseconds) override;

  // Virtual milliseconds since the clock was made.
  int64_t ElapsedMs() const { return elapsedMs_.load(std::memory_order_relaxed); }
  void Advance(int64_t milliseconds) { elapsedMs_.fetch_add(milliseconds); }

 private:
  int32_t startSeconds_;
  int32_t utcOffsetSeconds_;
  std::atomic<int64_t> elapsedMs_{0};
};

}  // namespace velmora
