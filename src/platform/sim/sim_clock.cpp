#include "platform/sim/sim_clock.h"

#include <cstdio>

namespace velmora {

int32_t SimClock::NowSeconds() {
  return static_cast<int32_t>(startSeconds_ + ElapsedMs() / 1000);
}

std::string SimClock::LocalHourMinute(int32_t seconds) {
  int64_t secondOfDay = (static_cast<int64_t>(seconds) + utcOffsetSeconds_) % 86400;
  if (secondOfDay < 0) secondOfDay += 86400;
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(secondOfDay / 3600),
                static_cast<int>(secondOfDay / 60 % 60));
  return text;
}

void SimClock::Sleep(int32_t milliseconds) {
  if (milliseconds > 0) Advance(milliseconds);
}

}  // namespace velmora
