// The waits between tries to reopen a sound device that went away: 10 ms
// at first, doubling to a second. A device that flaps (opens, then drops at
// once) is tried once a second, not every 10 ms: the waits start again from
// 10 ms only after a device has played for 10 s. Window thread only.
#pragma once

#include <algorithm>
#include <cstdint>

namespace velmora {

class ReopenBackoff {
 public:
  static constexpr int kFirstMs = 10;
  static constexpr int kLongestMs = 1000;
  static constexpr int64_t kSteadyMs = 10000;

  // The wait before the next try.
  int DelayMs() const { return delayMs_; }
  // The device went away after playing for `playedMs`.
  void Lost(int64_t playedMs) { delayMs_ = playedMs >= kSteadyMs ? kFirstMs : Longer(); }
  // A try failed.
  void Failed() { delayMs_ = Longer(); }

 private:
  int Longer() const { return std::min(delayMs_ * 2, kLongestMs); }
  int delayMs_ = kFirstMs;
};

}  // namespace velmora
