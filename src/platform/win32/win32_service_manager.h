// The real service manager: the version query, the service control manager,
// full-path resolution, the device open and the permissions of files,
// through the A functions of kernel32 and advapi32.
//
// Thread safety: window thread only.
#pragma once

#include "platform/service_manager.h"

namespace velmora {

class Win32ServiceManager final : public ServiceManager {
 public:
  std::optional<uint32_t> PlatformId() override;
  ServiceHandle OpenSCManager(uint32_t access) override;
  ServiceHandle CreateService(ServiceHandle manager, const std::string& name,
                              const std::string& displayName, uint32_t access, uint32_t serviceType,
                              uint32_t startType, uint32_t errorControl,
                              const std::string& binaryPath) override;
  ServiceHandle OpenService(ServiceHandle manager, const std::string& name,
                            uint32_t access) override;
  bool StartService(ServiceHandle service) override;
  void CloseServiceHandle(ServiceHandle handle) override;
  std::string FullPathName(const std::string& fileName) override;
  ServiceHandle OpenDevice(const std::string& path, uint32_t access) override;
  void CloseHandle(ServiceHandle handle) override;
  uint32_t LastError() override;
  bool FileExists(const std::string& fileName) override;
  FileSecurity Security(const std::string& path) override;
  std::string ProcessUserSid() override;
  std::optional<std::string> ServiceBinaryPath(ServiceHandle manager,
                                               const std::string& name) override;
};

}  // namespace velmora
