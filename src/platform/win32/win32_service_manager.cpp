#include "platform/win32/win32_service_manager.h"

#include "platform/win32/windows_api.h"

namespace velmora {

std::optional<uint32_t> Win32ServiceManager::PlatformId() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return std::nullopt;
  return version.dwPlatformId;
}

ServiceHandle Win32ServiceManager::OpenSCManager(uint32_t access) {
  return OpenSCManagerA(nullptr, nullptr, access);
}

ServiceHandle Win32ServiceManager::CreateService(ServiceHandle manager, const std::string& name,
                                                 const std::string& displayName, uint32_t access,
                                                 uint32_t serviceType, uint32_t startType,
                                                 uint32_t errorControl,
                                                 const std::string& binaryPath) {
  return CreateServiceA(static_cast<SC_HANDLE>(manager), name.c_str(), displayName.c_str(), access,
                        serviceType, startType, errorControl, binaryPath.c_str(), nullptr, nullptr,
                        nullptr, nullptr, nullptr);
}

ServiceHandle Win32ServiceManager::OpenService(ServiceHandle manager, const std::string& name,
                                               uint32_t access) {
  return OpenServiceA(static_cast<SC_HANDLE>(manager), name.c_str(), access);
}

bool Win32ServiceManager::StartService(ServiceHandle service) {
  return StartServiceA(static_cast<SC_HANDLE>(service), 0, nullptr) != 0;
}

void Win32ServiceManager::CloseServiceHandle(ServiceHandle handle) {
  ::CloseServiceHandle(static_cast<SC_HANDLE>(handle));
}

std::string Win32ServiceManager::FullPathName(const std::string& fileName) {
  char path[MAX_PATH];
  const DWORD length = GetFullPathNameA(fileName.c_str(), MAX_PATH, path, nullptr);
  // Too long or failed: the name as given (the service then fails to start).
  if (length == 0 || length >= MAX_PATH) return fileName;
  return std::string(path, length);
}

ServiceHandle Win32ServiceManager::OpenDevice(const std::string& path, uint32_t access) {
  const HANDLE device =
      CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

void Win32ServiceManager::CloseHandle(ServiceHandle handle) {
  ::CloseHandle(handle);
}

uint32_t Win32ServiceManager::LastError() {
  return GetLastError();
}

bool Win32ServiceManager::FileExists(const std::string& fileName) {
  const DWORD attributes = GetFileAttributesA(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace velmora
