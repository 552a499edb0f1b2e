// Port access through the giveio kernel driver, for NT-family systems: the
// driver is installed as a demand-start kernel-driver service when needed,
// started, and its device opened, which leaves the process free to write I/O
// ports. An attempt ladder decides how far to go. The ladder is portable: it
// speaks to the system only through the service-manager service, so it is
// tested on every build.
#pragma once

#include <cstdint>
#include <string>

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

// Whether a driver file at `path` (a full path) and its folder may be
// changed by nobody but Administrators, SYSTEM, TrustedInstaller and this
// process's account: empty if so, else why not, in words a user can act on.
// The file need not exist yet (its folder must be safe either way). `what`
// names the file in the words ("giveio.sys", "the registered giveio
// service's driver").
std::string DriverFileRefusal(ServiceManager& services, const std::string& path,
                              const std::string& what);

class GiveioAccess final : public PortAccess {
 public:
  explicit GiveioAccess(ServiceManager& services) : services_(services) {}

  // No driver needed outside the NT family, else the ladder's result. The
  // driver opens every port: the base is not needed.
  PortAccessResult SetUpPortAccess(uint16_t base) override;
  // "ERROR" without the driver file, "INSTALLED" with it; no owner window.
  // A driver file that others may change is refused before the service is
  // created or started: "ERROR" then says why.
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
  // Empty when the service's driver may be started, else why not.
  std::string RefusalBeforeStart();

  ServiceManager& services_;
  ServiceHandle manager_ = nullptr;
  std::string refusal_;  // why the ladder stopped short of the service
};

}  // namespace velmora
