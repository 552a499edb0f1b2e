// The parallel port on Linux: through the kernel's parport device
// (/dev/parportN with ppdev, the one whose base address is the port the option
// word names, claimed once), else by direct port output where the process
// holds the privilege for it (ioperm, x86 only). There is no driver to
// install: set-up answers "no driver needed" when a route exists, and
// "failed" with a message saying what was tried when none does.
//
// Thread safety: SetUpPortAccess and ReportFailure on the window thread before
// the workers start; PortWrite from the one thread that writes the port.
#pragma once

#include <string>

#include "platform/port.h"
#include "platform/port_access.h"

namespace velmora {

class LinuxPort final : public Port, public PortAccess {
 public:
  // Tests point the device and /proc folders elsewhere and leave out direct
  // output, which depends on the machine's privileges.
  explicit LinuxPort(std::string devRoot = "/dev", std::string procRoot = "/proc/sys/dev/parport",
                     bool tryDirect = true)
      : devRoot_(std::move(devRoot)), procRoot_(std::move(procRoot)), tryDirect_(tryDirect) {}
  ~LinuxPort() override;

  PortAccessResult SetUpPortAccess(uint16_t base) override;
  void ReportFailure(WindowHost& host) override;
  void PortWrite(uint16_t port, uint8_t value) override;

  const std::string& Attempts() const { return attempts_; }

 private:
  bool TryParportDevices(uint16_t base);
  bool TryDirect(uint16_t base);

  enum class Route { kNone, kParportDevice, kDirect };
  std::string devRoot_;
  std::string procRoot_;
  bool tryDirect_;
  Route route_ = Route::kNone;
  int fd_ = -1;
  uint16_t base_ = 0;
  std::string attempts_;  // what was tried and why it failed, for the message
};

}  // namespace velmora
