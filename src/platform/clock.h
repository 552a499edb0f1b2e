// Clock service: calendar time, local clock text and sleeping. The core takes
// time only from here, so tests and the offline renderer can run on a
// virtual clock.
//
// Thread safety: any thread may call.
#pragma once

#include <cstdint>
#include <cstdio>
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
  // Milliseconds from a fixed origin, on a clock that stops while the
  // computer is suspended: the night's stand-in for a sound device.
  virtual int64_t MonotonicMs() = 0;
  // Milliseconds the computer has spent suspended since that origin.
  virtual int64_t AsleepMs() = 0;
};

// "HH:MM" of a time of day, as every clock gives it.
inline std::string HourMinuteText(int hour, int minute) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", hour % 100, minute % 100);
  return text;
}

// The real clock of the machine.
Clock& SystemClock();

// The machine's milliseconds awake: its monotonic clock, sleep and
// hibernation left out. What SystemClock().MonotonicMs() answers. Any thread.
int64_t AwakeMilliseconds();

}  // namespace velmora
