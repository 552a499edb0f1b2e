// The machine's clock through the C++ standard library: time(), localtime and
// std::this_thread::sleep_for. Portable to every back-end.
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/clock.h"

namespace velmora {
namespace {

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
};

}  // namespace

Clock& SystemClock() {
  static StandardClock clock;
  return clock;
}

}  // namespace velmora
