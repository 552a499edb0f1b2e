// The power service on Linux, over D-Bus with sd-bus: the desktop portal's
// Inhibit (flags 4, suspend only: the screen may still go dark) on the
// session bus first; where no portal answers, logind's Inhibit of "idle" on
// the system bus, holding the descriptor it returns. The portal keeps its
// hold for as long as our connection lives, logind for as long as the
// descriptor is open: the process's end releases either.
#pragma once

#include <string>

#include "platform/power.h"

struct sd_bus;

namespace velmora {

inline constexpr const char* kPowerReason = "playing a night programme";

class LinuxPower final : public Power {
 public:
  LinuxPower() = default;
  ~LinuxPower() override;
  LinuxPower(const LinuxPower&) = delete;
  LinuxPower& operator=(const LinuxPower&) = delete;

  bool Hold(std::string& why) override;
  void Release() override;

 private:
  bool HoldThroughPortal(std::string& why);
  bool HoldThroughLogind(std::string& why);

  sd_bus* portalBus_ = nullptr;  // open while the portal holds
  std::string request_;          // the portal's handle of the hold
  int logindFd_ = -1;            // open while logind holds
};

}  // namespace velmora
