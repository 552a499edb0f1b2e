// Service manager service: the version query, the service control manager and
// the device open that the port-access set-up uses, with Windows' meanings
// (handles are opaque; a failed call leaves a system error code to read).
// The Windows back-end calls the real functions; tests use a fake.
//
// Thread safety: window thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

using ServiceHandle = void*;

inline constexpr uint32_t kScManagerAllAccess = 0xF003F;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr uint32_t kServiceKernelDriver = 1;
inline constexpr uint32_t kServiceDemandStart = 3;
inline constexpr uint32_t kServiceErrorNormal = 1;
inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kPlatformWin32Nt = 2;

// One access-allowed entry of a file's or folder's permissions.
struct AccessEntry {
  std::string sid;      // "S-1-5-32-545"
  std::string account;  // "BUILTIN\\Users", or the SID where it has no name
  uint32_t mask = 0;
  bool inheritOnly = false;  // for what is made inside, not the object itself
};

// Who owns a file or folder and who may do what to it.
struct FileSecurity {
  bool readable = false;
  std::string why;  // when not readable: the system's reason
  std::string ownerSid, ownerAccount;
  bool noDacl = false;  // no permissions at all: everyone may do everything
  std::vector<AccessEntry> allowed;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // The platform id of the version query (2 = NT family), or nothing if the
  // query fails.
  virtual std::optional<uint32_t> PlatformId() = 0;
  virtual ServiceHandle OpenSCManager(uint32_t access) = 0;
  virtual ServiceHandle CreateService(ServiceHandle manager, const std::string& name,
                                      const std::string& displayName, uint32_t access,
                                      uint32_t serviceType, uint32_t startType,
                                      uint32_t errorControl, const std::string& binaryPath) = 0;
  virtual ServiceHandle OpenService(ServiceHandle manager, const std::string& name,
                                    uint32_t access) = 0;
  virtual bool StartService(ServiceHandle service) = 0;
  virtual void CloseServiceHandle(ServiceHandle handle) = 0;
  // The full path of a relative file name against the current directory.
  virtual std::string FullPathName(const std::string& fileName) = 0;
  // Opens a device for reading (no sharing, existing only); nullptr if not.
  virtual ServiceHandle OpenDevice(const std::string& path, uint32_t access) = 0;
  virtual void CloseHandle(ServiceHandle handle) = 0;
  // The error code of the last failed call.
  virtual uint32_t LastError() = 0;
  virtual bool FileExists(const std::string& fileName) = 0;
  // The owner and the access-allowed entries of a file or folder
  // (GetNamedSecurityInfoA).
  virtual FileSecurity Security(const std::string& path) = 0;
  // The SID of the account this process runs as.
  virtual std::string ProcessUserSid() = 0;
  // The full path of the file a registered service loads
  // (QueryServiceConfigA): nothing when no such service is registered (or it
  // may not be opened), empty when its configuration cannot be read.
  virtual std::optional<std::string> ServiceBinaryPath(ServiceHandle manager,
                                                       const std::string& name) = 0;
};

}  // namespace velmora
