// WebClock: the device's clock and time zone through the bridge. Its sleep
// is the audio thread's: a sleeper the host installs (the generator's
// coroutine) waits; without one, a sleep returns at once, since a browser's
// threads may not block.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"

namespace velmora {

class WebClock final : public Clock {
 public:
  int32_t NowSeconds() override;
  std::string LocalHourMinute(int32_t seconds) override;
  void Sleep(int32_t milliseconds) override;
  // Never goes back, though the device's clock may be set back.
  int64_t MonotonicMs() override;
  int64_t AsleepMs() override { return 0; }

  std::function<void(int32_t)> sleeper;

 private:
  int64_t lastMs_ = 0;
};

}  // namespace velmora
