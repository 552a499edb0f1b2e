// The machine's clock through the C++ standard library: time(), localtime and
// std::this_thread::sleep_for; for the time awake and asleep, the system's
// own counters (CLOCK_MONOTONIC and CLOCK_BOOTTIME on Linux, the unbiased and
// the plain interrupt time on Windows).
#include <chrono>
#include <ctime>
#include <thread>

#if defined(_WIN32)
#include "platform/win32/windows_api.h"
#endif

#include "platform/clock.h"

namespace velmora {
namespace {

#if !defined(_WIN32)
int64_t Milliseconds(clockid_t id) {
  timespec t{};
  clock_gettime(id, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}
#endif

class StandardClock final : public Clock {
 public:
  int32_t NowSeconds() override { return static_cast<int32_t>(std::time(nullptr)); }

  std::string LocalHourMinute(int32_t seconds) override {
    std::time_t t = seconds;
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    return HourMinuteText(local.tm_hour, local.tm_min);
  }

  void Sleep(int32_t milliseconds) override {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  int64_t MonotonicMs() override {
    return AwakeMilliseconds();
  }

#if defined(_WIN32)
  // GetTickCount64 counts sleep and hibernation too.
  int64_t AsleepMs() override {
    const int64_t asleep = static_cast<int64_t>(GetTickCount64()) - AwakeMilliseconds();
    return asleep > 0 ? asleep : 0;
  }
#else
  int64_t AsleepMs() override {
    // Read together, so the two differ only by the time spent suspended.
    const int64_t all = Milliseconds(CLOCK_BOOTTIME);
    const int64_t awake = Milliseconds(CLOCK_MONOTONIC);
    return all > awake ? all - awake : 0;
  }
#endif
};

}  // namespace

int64_t AwakeMilliseconds() {
#if defined(_WIN32)
  // In 100-ns units; the unbiased count leaves out sleep and hibernation
  // (Windows 7 and later).
  ULONGLONG awake = 0;
  QueryUnbiasedInterruptTime(&awake);
  return static_cast<int64_t>(awake / 10000);
#else
  return Milliseconds(CLOCK_MONOTONIC);
#endif
}

Clock& SystemClock() {
  static StandardClock clock;
  return clock;
}

}  // namespace velmora
