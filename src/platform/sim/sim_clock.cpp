#include "platform/sim/sim_clock.h"

namespace velmora {

int32_t SimClock::NowSeconds() {
  return static_cast<int32_t>(startSeconds_ + (NowMs() + AsleepMs() + StalledMs()) / 1000);
}

std::string SimClock::LocalHourMinute(int32_t seconds) {
  int64_t secondOfDay = (static_cast<int64_t>(seconds) + utcOffsetSeconds_) % 86400;
  if (secondOfDay < 0) secondOfDay += 86400;
  return HourMinuteText(static_cast<int>(secondOfDay / 3600),
                        static_cast<int>(secondOfDay / 60 % 60));
}

void SimClock::Sleep(int32_t milliseconds) {
  if (onSleep) onSleep();
  if (milliseconds > 0) Advance(milliseconds);
}

void SimClock::Advance(int64_t milliseconds) {
  const int64_t target = NowMs() + milliseconds;
  // An event may schedule further events, also within this advance.
  while (!events_.empty() && events_.begin()->first <= target) {
    auto first = events_.begin();
    if (first->first > NowMs()) nowMs_.store(first->first, std::memory_order_relaxed);
    std::function<void()> event = std::move(first->second);
    events_.erase(first);
    event();
  }
  nowMs_.store(target, std::memory_order_relaxed);
}

void SimClock::At(int64_t atMs, std::function<void()> event) {
  events_.emplace(atMs, std::move(event));
}

}  // namespace velmora
