// Power service: keeps the computer awake while velmora plays, and lets the
// display sleep. Held from start-up to the close path; tied to the process
// (a descriptor or a bus connection), so a crash releases it too.
//
// Thread safety: the window thread.
#pragma once

#include <string>

namespace velmora {

class Power {
 public:
  virtual ~Power() = default;
  // Asks the system not to suspend; on failure says why in `why`.
  virtual bool Hold(std::string& why) = 0;
  // Lets the system suspend again. Releasing what is not held does nothing.
  virtual void Release() = 0;
};

}  // namespace velmora
