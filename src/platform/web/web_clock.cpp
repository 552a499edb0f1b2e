#include "platform/web/web_clock.h"

#include <cmath>

#include "platform/web/web_bridge.h"

namespace velmora {

int32_t WebClock::NowSeconds() {
  return static_cast<int32_t>(std::floor(velmora_now_ms() / 1000.0));
}

std::string WebClock::LocalHourMinute(int32_t seconds) {
  const int32_t minutes = velmora_local_minutes(static_cast<double>(seconds) * 1000.0);
  return HourMinuteText(minutes / 60, minutes % 60);
}

void WebClock::Sleep(int32_t milliseconds) {
  if (milliseconds > 0 && sleeper) sleeper(milliseconds);
}

int64_t WebClock::MonotonicMs() {
  const auto now = static_cast<int64_t>(velmora_now_ms());
  if (now > lastMs_) lastMs_ = now;
  return lastMs_;
}

}  // namespace velmora
