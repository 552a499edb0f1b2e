#include "platform/win32/win32_power.h"

#include <string>

namespace velmora {

bool Win32Power::Hold(std::string& why) {
  if (held_) return true;
  // The call answers the previous state, or 0 when it failed.
  if (set_(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
    why = "SetThreadExecutionState failed";
    return false;
  }
  held_ = true;
  return true;
}

void Win32Power::Release() {
  if (!held_) return;
  held_ = false;
  set_(ES_CONTINUOUS);
}

}  // namespace velmora
