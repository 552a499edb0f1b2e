// Port access through the giveio kernel driver, for NT-family systems: the
// driver is installed as a demand-start kernel-driver service when needed,
// started, and its device opened, which leaves the process free to write I/O
// ports. An attempt ladder decides how far to go. The ladder is portable: it
// speaks to the system only through the service-manager service, so it is
// tested on every build.
#pragma once

#include <cstdint>

#include "platform/port_access.h"
#include "platform/service_manager.h"

namespace velmora {

inline constexpr const char* kGiveioService = "giveio";
inline constexpr const char* kGiveioFile = "giveio.sys";
inline constexpr const char* kGiveioDevice = "\\\\.\\giveio";

// The texts of the two boxes of a failed set-up, chosen by whether the
// driver file is present.
inline constexpr const char* kNoDriverText = "Can't use LPT port.\nThis is take a GIVEIO.SYS file.";
inline constexpr const char* kInstalledText = "GIVEIO.SYS installed!\nPlease to reset comp.";

class GiveioAccess final : public PortAccess {
 public:
  explicit GiveioAccess(ServiceManager& services) : services_(services) {}

  // No driver needed outside the NT family, else the ladder's result. The
  // driver opens every port: the base is not needed.
  PortAccessResult SetUpPortAccess(uint16_t base) override;
  // "ERROR" without the driver file, "INSTALLED" with it; no owner window.
  void ReportFailure(WindowHost& host) override;

  // The steps of the ladder, each 0 for success or a system error code (1
  // when the service manager cannot be opened).
  int IsNtPlatform();
  uint32_t OpenServiceManager();
  uint32_t CreateDriverService(const char* fileName, const char* serviceName);
  uint32_t StartDriverService(const char* serviceName);

  // Opened at the first need and kept for the life of the process.
  ServiceHandle ServiceManagerHandle() const { return manager_; }

 private:
  ServiceManager& services_;
  ServiceHandle manager_ = nullptr;
};

}  // namespace velmora
