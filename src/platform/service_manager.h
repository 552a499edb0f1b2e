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

namespace velmora {

using ServiceHandle = void*;

inline constexpr uint32_t kScManagerAllAccess = 0xF003F;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr uint32_t kServiceKernelDriver = 1;
inline constexpr uint32_t kServiceDemandStart = 3;
inline constexpr uint32_t kServiceErrorNormal = 1;
inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kPlatformWin32Nt = 2;

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
};

}  // namespace velmora
