// The parallel port on Linux: through the kernel's parport device
// (/dev/parportN with ppdev, the one whose base address is the port the option
// word names, claimed once), else by direct port output where the process
// holds the privilege for it (ioperm, x86 only). There is no driver to
// install: set-up answers 1 (no driver needed) when a route exists, and 0 with
// a message saying what was tried when none does.
//
// Thread safety: SetUpPortAccess and ReportFailure on the window thread before
// the workers start; PortWrite from the one thread that writes the port.
#pragma once

#include <string>

#include "app/shared_state.h"
#include "output/port_access.h"
#include "platform/port.h"

namespace velmora {

class LinuxPort final : public Port, public PortAccess {
 public:
  // The port is the state's lptDataPort when set-up runs, after the option
  // words. Tests point the device and /proc folders elsewhere and leave out
  // direct output, which depends on the machine's privileges.
  explicit LinuxPort(const SharedState& state, std::string devRoot = "/dev",
                     std::string procRoot = "/proc/sys/dev/parport", bool tryDirect = true)
      : state_(state),
        devRoot_(std::move(devRoot)),
        procRoot_(std::move(procRoot)),
        tryDirect_(tryDirect) {}
  ~LinuxPort() override;

  int SetUpPortAccess() override;
  void ReportFailure(WindowHost& host) override;
  void PortWrite(uint16_t port, uint8_t value) override;

  enum class Route { kNone, kParportDevice, kDirect };
  Route ActiveRoute() const { return route_; }
  const std::string& Attempts() const { return attempts_; }

 private:
  bool TryParportDevices(uint16_t base);
  bool TryDirect(uint16_t base);

  const SharedState& state_;
  std::string devRoot_;
  std::string procRoot_;
  bool tryDirect_;
  Route route_ = Route::kNone;
  int fd_ = -1;
  uint16_t base_ = 0;
  std::string attempts_;  // what was tried and why it failed, for the message
};

}  // namespace velmora
