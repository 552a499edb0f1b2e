#include "platform/giveio/giveio_access.h"

namespace velmora {
namespace {

// The accounts that may change a driver file besides the one running
// velmora: Administrators, SYSTEM, TrustedInstaller.
constexpr const char* kTrustedSids[] = {
    "S-1-5-32-544",
    "S-1-5-18",
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
};
// OWNER RIGHTS: what the owner may do, whoever the owner is.
constexpr const char* kOwnerRightsSid = "S-1-3-4";

// Rights that change a file: write or append data, delete, change its
// permissions, take its ownership (and the generic rights that hold them).
constexpr uint32_t kChangesFile =
    0x0002 | 0x0004 | 0x00010000 | 0x00040000 | 0x00080000 | 0x40000000 | 0x10000000;
// Rights that change what a folder holds: add a file, delete a child, change
// its permissions, take its ownership (and the generic rights).
constexpr uint32_t kChangesFolder =
    0x0002 | 0x0040 | 0x00040000 | 0x00080000 | 0x40000000 | 0x10000000;

constexpr const char* kMoveIt =
    "move it where only administrators can write, such as the folder velmora is installed in";

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Who of those that are neither trusted nor this process's account may make
// the changes in `rights` to an object with `security`; empty if nobody.
std::string OtherWhoMay(const FileSecurity& security, uint32_t rights, const std::string& self) {
  const auto trusted = [&self](const std::string& sid) {
    if (sid == self) return true;
    for (const char* t : kTrustedSids) {
      if (sid == t) return true;
    }
    return false;
  };
  if (security.noDacl) return "Everyone";
  // An owner may always change the permissions.
  if (!trusted(security.ownerSid)) return security.ownerAccount + " (its owner)";
  for (const AccessEntry& entry : security.allowed) {
    if (entry.inheritOnly || (entry.mask & rights) == 0) continue;
    if (trusted(entry.sid) || (entry.sid == kOwnerRightsSid)) continue;
    return entry.account;
  }
  return {};
}

}  // namespace

std::string DriverFileRefusal(ServiceManager& services, const std::string& path,
                              const std::string& what) {
  const std::string self = services.ProcessUserSid();
  const std::string folder = FolderOf(path);
  const FileSecurity folderSecurity = services.Security(folder);
  if (!folderSecurity.readable) {
    return "the permissions of the folder of " + what + " (" + folder + ") cannot be read (" +
           folderSecurity.why + "); velmora starts no driver it cannot check: " + kMoveIt;
  }
  if (const std::string who = OtherWhoMay(folderSecurity, kChangesFolder, self); !who.empty()) {
    return what + " is in a folder other users can change (" + who +
           " may add or delete files in " + folder + "); " + kMoveIt;
  }
  if (!services.FileExists(path)) return {};
  const FileSecurity fileSecurity = services.Security(path);
  if (!fileSecurity.readable) {
    return "the permissions of " + what + " (" + path + ") cannot be read (" + fileSecurity.why +
           "); velmora starts no driver it cannot check: " + kMoveIt;
  }
  if (const std::string who = OtherWhoMay(fileSecurity, kChangesFile, self); !who.empty()) {
    return what + " can be changed by other users (" + who + " may write " + path + "); " + kMoveIt;
  }
  return {};
}

std::string GiveioAccess::RefusalBeforeStart() {
  if (OpenServiceManager() != 0) return {};  // the start fails anyway
  const std::optional<std::string> registered =
      services_.ServiceBinaryPath(manager_, kGiveioService);
  if (!registered) return {};  // not registered: the creation checks its own file
  if (registered->empty()) {
    return "the registered giveio service's configuration cannot be read; velmora starts no "
           "driver it cannot check: remove the service as an administrator (sc stop giveio, "
           "sc delete giveio)";
  }
  std::string why =
      DriverFileRefusal(services_, *registered, "the registered giveio service's driver");
  if (!why.empty()) {
    why += "; or remove the service as an administrator (sc stop giveio, sc delete giveio)";
  }
  return why;
}

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
    // No driver is created or started from a file others may change: it
    // would run their code in the kernel.
    if (rung == 2) {
      refusal_ = DriverFileRefusal(services_, services_.FullPathName(kGiveioFile), kGiveioFile);
      if (!refusal_.empty()) return PortAccessResult::kFailed;
    }
    if (rung >= 2 && CreateDriverService(kGiveioFile, kGiveioService) != 0) {
      return PortAccessResult::kFailed;
    }
    if (rung == 1) {
      refusal_ = RefusalBeforeStart();
      if (!refusal_.empty()) return PortAccessResult::kFailed;
    }
    if (rung >= 1 && StartDriverService(kGiveioService) != 0) continue;
    if (const ServiceHandle device = services_.OpenDevice(kGiveioDevice, kGenericRead)) {
      services_.CloseHandle(device);
      return kRungs[rung < 2 ? rung : 2];
    }
  }
}

void GiveioAccess::ReportFailure(WindowHost& host) {
  if (!refusal_.empty()) {
    host.ShowMessageBox("ERROR", "Can't use LPT port.\n" + refusal_ + ".", BoxIcon::kNone);
    return;
  }
  if (services_.FileExists(kGiveioFile)) {
    host.ShowMessageBox("INSTALLED", kInstalledText, BoxIcon::kInformation);
  } else {
    host.ShowMessageBox("ERROR", kNoDriverText, BoxIcon::kNone);
  }
}

}  // namespace velmora
