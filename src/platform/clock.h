// Clock service: calendar time, local clock text and sleeping. The core takes
// time only from here, so tests and the offline renderer can run on a
// virtual clock.
//
// Thread safety: any thread may call.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

class Clock {
 public:
  virtual ~Clock() = default;
  // Calendar seconds since 1970-01-01 00:00 UTC, as a signed 32-bit count.
  virtual int32_t NowSeconds() = 0;
  // The local time of day of `seconds` as "HH:MM" (24-hour).
  virtual std::string LocalHourMinute(int32_t seconds) = 0;
  // Waits `milliseconds`; zero or negative returns at once.
  virtual void Sleep(int32_t milliseconds) = 0;
};

// The real clock of the machine.
Clock& SystemClock();

}  // namespace velmora
