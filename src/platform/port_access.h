// Port-access service: what light mode must do before it may write the port
// at `base`. Its result decides what window creation does next.
//
// Thread safety: the window thread, once, during window creation in light
// mode, before the workers start.
#pragma once

#include <cstdint>

#include "platform/window_host.h"

namespace velmora {

enum class PortAccessResult {
  kFailed,          // no route: the back-end's message, then exit code 0
  kNoDriverNeeded,  // a route that needs no driver (Linux; Windows outside NT)
  kDeviceOpened,    // the driver's device opened at once
  kServiceStarted,  // the existing driver service was started, its device opened
  kNewlyInstalled,  // the driver service was created and started: exit code 0, no message
};

class PortAccess {
 public:
  virtual ~PortAccess() = default;
  virtual PortAccessResult SetUpPortAccess(uint16_t base) = 0;
  // Shows why access failed, as boxes with no owner window.
  virtual void ReportFailure(WindowHost& host) = 0;
};

}  // namespace velmora
