// The power service on Windows: the thread execution state. Holding asks for
// the system (not the display: ES_DISPLAY_REQUIRED is left out, so the screen
// may sleep); releasing gives the plain continuous state back. The system
// drops the request when the process ends.
#pragma once

#include "platform/power.h"
#include "platform/win32/windows_api.h"

namespace velmora {

class Win32Power final : public Power {
 public:
  using ExecutionStateFunction = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE);
  // Tests pass their own function to see the calls.
  explicit Win32Power(ExecutionStateFunction set = &SetThreadExecutionState) : set_(set) {}

  bool Hold(std::string& why) override;
  void Release() override;

 private:
  ExecutionStateFunction set_;
  bool held_ = false;
};

}  // namespace velmora
