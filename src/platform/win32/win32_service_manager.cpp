#include "platform/win32/win32_service_manager.h"

#include "platform/win32/system_reason.h"
#include "platform/win32/windows_api.h"

// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace velmora {
namespace {

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidA(sid, &text)) return {};
  std::string out(text);
  LocalFree(text);
  return out;
}

// "DOMAIN\name", or the SID where the account has no name.
std::string AccountName(PSID sid) {
  char name[256], domain[256];
  DWORD nameSize = sizeof name, domainSize = sizeof domain;
  SID_NAME_USE use;
  if (!LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    return SidText(sid);
  }
  return domain[0] != '\0' ? std::string(domain) + "\\" + name : std::string(name);
}

std::string WindowsFolder() {
  char folder[MAX_PATH];
  const UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(folder, n) : std::string("C:\\Windows");
}

// A service's binary path as the service manager keeps it, as a file path:
// "\??\C:\x.sys", "\SystemRoot\System32\x.sys" and "System32\x.sys" are
// all forms of it.
std::string DriverPath(std::string path) {
  if (path.size() >= 2 && path.front() == '"') path = path.substr(1, path.find('"', 1) - 1);
  if (path.rfind("\\??\\", 0) == 0) return path.substr(4);
  if (path.rfind("\\SystemRoot\\", 0) == 0) return WindowsFolder() + path.substr(11);
  if (path.find(':') == std::string::npos && path.rfind("\\\\", 0) != 0) {
    return WindowsFolder() + "\\" + path;
  }
  return path;
}

}  // namespace

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

namespace velmora {

FileSecurity Win32ServiceManager::Security(const std::string& path) {
  FileSecurity security;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) {
    security.why = SystemReason(error);
    return security;
  }
  security.readable = true;
  security.ownerSid = SidText(owner);
  security.ownerAccount = AccountName(owner);
  security.noDacl = dacl == nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = &allowed->SidStart;
    security.allowed.push_back({SidText(sid), AccountName(sid), allowed->Mask,
                                (header->AceFlags & INHERIT_ONLY_ACE) != 0});
  }
  LocalFree(descriptor);
  return security;
}

std::string Win32ServiceManager::ProcessUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  std::string sid;
  if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    sid = SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
  }
  ::CloseHandle(token);
  return sid;
}

std::optional<std::string> Win32ServiceManager::ServiceBinaryPath(ServiceHandle manager,
                                                                  const std::string& name) {
  const SC_HANDLE service =
      OpenServiceA(static_cast<SC_HANDLE>(manager), name.c_str(), SERVICE_QUERY_CONFIG);
  if (service == nullptr) return std::nullopt;
  DWORD size = 0;
  QueryServiceConfigA(service, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  std::optional<std::string> path = "";  // registered; unreadable unless read below
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (size > 0 && QueryServiceConfigA(service, config, size, &size) &&
      config->lpBinaryPathName != nullptr) {
    path = DriverPath(config->lpBinaryPathName);
  }
  ::CloseServiceHandle(service);
  return path;
}

}  // namespace velmora
