#include "platform/giveio/giveio_access.h"

namespace velmora {

int GiveioAccess::IsNtPlatform() {
  const std::optional<uint32_t> platform = services_.PlatformId();
  return platform && *platform == kPlatformWin32Nt ? 1 : 0;
}

uint32_t GiveioAccess::OpenServiceManager() {
  if (manager_) return 0;
  manager_ = services_.OpenSCManager(kScManagerAllAccess);
  return manager_ ? 0 : services_.LastError();
}

uint32_t GiveioAccess::CreateDriverService(const char* fileName, const char* serviceName) {
  if (OpenServiceManager() != 0) return 1;
  const std::string fullPath = services_.FullPathName(fileName);
  const ServiceHandle service = services_.CreateService(
      manager_, serviceName, serviceName, kServiceAllAccess, kServiceKernelDriver,
      kServiceDemandStart, kServiceErrorNormal, fullPath);
  if (!service) return services_.LastError();
  services_.CloseServiceHandle(service);
  return 0;
}

uint32_t GiveioAccess::StartDriverService(const char* serviceName) {
  if (OpenServiceManager() != 0) return 1;
  const ServiceHandle service = services_.OpenService(manager_, serviceName, kServiceAllAccess);
  uint32_t result;
  if (service) {
    result = services_.StartService(service) ? 0 : services_.LastError();
    services_.CloseServiceHandle(service);
  } else {
    result = services_.LastError();
  }
  return result;
}

PortAccessResult GiveioAccess::SetUpPortAccess(uint16_t /*base*/) {
  if (IsNtPlatform() == 0) return PortAccessResult::kNoDriverNeeded;
  // Each failed attempt goes one rung further: open the device; start the
  // service; create it; a second creation is refused because it exists.
  constexpr PortAccessResult kRungs[] = {PortAccessResult::kDeviceOpened,
                                         PortAccessResult::kServiceStarted,
                                         PortAccessResult::kNewlyInstalled};
  for (int rung = 0;; ++rung) {
    if (rung >= 2 && CreateDriverService(kGiveioFile, kGiveioService) != 0) {
      return PortAccessResult::kFailed;
    }
    if (rung >= 1 && StartDriverService(kGiveioService) != 0) continue;
    if (const ServiceHandle device = services_.OpenDevice(kGiveioDevice, kGenericRead)) {
      services_.CloseHandle(device);
      return kRungs[rung < 2 ? rung : 2];
    }
  }
}

void GiveioAccess::ReportFailure(WindowHost& host) {
  if (services_.FileExists(kGiveioFile)) {
    host.ShowMessageBox("INSTALLED", kInstalledText, BoxIcon::kInformation);
  } else {
    host.ShowMessageBox("ERROR", kNoDriverText, BoxIcon::kNone);
  }
}

}  // namespace velmora
