// Port-access set-up: what light mode must do before it may write the port.
// Its result, 0 to 4, decides what window creation does next:
//   0  access could not be set up: the platform's message, then exit code 0
//   1  no driver needed on this system (not of the NT family)
//   2  the driver's device opened at once
//   3  the existing driver service was started and its device opened
//   4  the driver service was newly created and started: exit code 0, no message
#pragma once

#include "platform/window_host.h"

namespace velmora {

inline constexpr int kPortAccessFailed = 0;
inline constexpr int kPortAccessNotNt = 1;
inline constexpr int kPortAccessNewlyInstalled = 4;

class PortAccess {
 public:
  virtual ~PortAccess() = default;
  // Window thread, once, during window creation in light mode.
  virtual int SetUpPortAccess() = 0;
  // Shows why access failed (result 0), as boxes with no owner window.
  virtual void ReportFailure(WindowHost& host) = 0;
};

}  // namespace velmora
