// The giveio port-access ladder of the Windows build against a fake service
// manager: every rung, the manager handle kept, the failure boxes.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_services.h"
#include "platform/giveio/giveio_access.h"

namespace velmora {
namespace {

using testing::CallLog;

// A service control manager with one driver service that may exist, may
// start, and whose device opens once it runs.
class FakeServiceManager final : public ServiceManager {
 public:
  explicit FakeServiceManager(CallLog& log) : log_(log) {}
  std::optional<uint32_t> platform = kPlatformWin32Nt;
  bool managerOpens = true;
  bool serviceExists = false;
  bool running = false;
  bool startWorks = true;
  bool deviceWorks = true;  // the running driver's device opens
  bool fileExists = false;
  uint32_t lastError = 0;
  std::optional<std::string> registeredPath;  // of an existing service; its creation's if not set
  // Each path's permissions; a path not here has those of a folder in
  // Program Files (Administrators own it; SYSTEM and they may change it;
  // Users may read it).
  std::map<std::string, FileSecurity> security;

  std::optional<uint32_t> PlatformId() override {
    log_.push_back("version");
    return platform;
  }
  ServiceHandle OpenSCManager(uint32_t access) override {
    log_.push_back("open manager " + testing::Hex(access));
    if (!managerOpens) return Fail(5);  // access denied
    return Handle(1);
  }
  ServiceHandle CreateService(ServiceHandle, const std::string& name, const std::string& display,
                              uint32_t access, uint32_t type, uint32_t start, uint32_t error,
                              const std::string& path) override {
    log_.push_back("create " + name + " " + display + " " + testing::Hex(access) + " " +
                   std::to_string(type) + " " + std::to_string(start) + " " +
                   std::to_string(error) + " " + path);
    if (serviceExists) return Fail(1073);  // the service exists
    serviceExists = true;
    return Handle(2);
  }
  ServiceHandle OpenService(ServiceHandle, const std::string& name, uint32_t access) override {
    log_.push_back("open service " + name + " " + testing::Hex(access));
    if (!serviceExists) return Fail(1060);  // no such service
    return Handle(3);
  }
  bool StartService(ServiceHandle) override {
    log_.push_back("start");
    if (!startWorks) {
      lastError = 2;
      return false;
    }
    running = true;
    return true;
  }
  void CloseServiceHandle(ServiceHandle h) override {
    log_.push_back("close service " + std::to_string(reinterpret_cast<uintptr_t>(h)));
  }
  std::string FullPathName(const std::string& file) override { return "C:\\night\\" + file; }
  ServiceHandle OpenDevice(const std::string& path, uint32_t access) override {
    log_.push_back("open device " + path + " " + testing::Hex(access));
    if (!(running && deviceWorks)) return Fail(2);
    return Handle(4);
  }
  void CloseHandle(ServiceHandle) override { log_.push_back("close device"); }
  uint32_t LastError() override { return lastError; }
  bool FileExists(const std::string& file) override {
    return fileExists && (file == "giveio.sys" || file == "C:\\night\\giveio.sys");
  }
  FileSecurity Security(const std::string& path) override {
    log_.push_back("security " + path);
    const auto found = security.find(path);
    return found != security.end() ? found->second : Safe();
  }
  std::string ProcessUserSid() override { return kSelf; }
  std::optional<std::string> ServiceBinaryPath(ServiceHandle, const std::string& name) override {
    log_.push_back("query config " + name);
    if (!serviceExists) return std::nullopt;
    return registeredPath ? *registeredPath : "C:\\night\\giveio.sys";
  }

  static constexpr const char* kSelf = "S-1-5-21-7-7-7-1001";  // the administrator running it
  static FileSecurity Safe() {
    FileSecurity s;
    s.readable = true;
    s.ownerSid = "S-1-5-32-544";
    s.ownerAccount = "BUILTIN\\Administrators";
    s.allowed = {{"S-1-5-18", "NT AUTHORITY\\SYSTEM", 0x1F01FF, false},
                 {"S-1-5-32-544", "BUILTIN\\Administrators", 0x1F01FF, false},
                 {kSelf, "NIGHT\\admin", 0x1F01FF, false},
                 {"S-1-5-32-545", "BUILTIN\\Users", 0x1200A9, false},
                 // Made inside: its creator owns it (not the folder itself).
                 {"S-1-3-0", "CREATOR OWNER", 0x10000000, true}};
    return s;
  }
  static FileSecurity Granting(const std::string& sid, const std::string& account, uint32_t mask) {
    FileSecurity s = Safe();
    s.allowed.push_back({sid, account, mask, false});
    return s;
  }

 private:
  ServiceHandle Handle(uintptr_t v) { return reinterpret_cast<ServiceHandle>(v); }
  ServiceHandle Fail(uint32_t error) {
    lastError = error;
    return nullptr;
  }
  CallLog& log_;
};

const std::string kCreate = "create giveio giveio f01ff 1 3 1 C:\\night\\giveio.sys";
const std::string kDevice = "open device \\\\.\\giveio 80000000";
const std::string kManager = "open manager f003f";
const std::string kQuery = "query config giveio";
const std::string kOpenService = "open service giveio f01ff";
const std::string kFolder = "security C:\\night";
const std::string kFile = "security C:\\night\\giveio.sys";
const std::string kMoveIt =
    "move it where only administrators can write, such as the folder velmora is installed in.";

// Every rung of the ladder, and the driver files it refuses: one that other
// users may change (the file, its folder, the file a registered service
// loads, its owner), or whose permissions cannot be read. A refusal comes
// before the service is created or started, and says why in the box.
TEST(PortAccessLadderTest, EveryRung) {
  using M = FakeServiceManager;
  struct Case {
    const char* name;
    std::function<void(M&)> setup;
    PortAccessResult result;
    CallLog calls;
    std::string box = {};  // of a refusal; empty: not a refusal
  };
  const auto unsafeFolder = [](M& m, const std::string& folder) {
    m.security[folder] = M::Granting("S-1-1-0", "Everyone", 0x0002);
  };
  for (const Case& c : std::vector<Case>{
           {"not NT", [](M& m) { m.platform = 1; }, PortAccessResult::kNoDriverNeeded, {"version"}},
           {"version query fails",
            [](M& m) { m.platform.reset(); },
            PortAccessResult::kNoDriverNeeded,
            {"version"}},
           {"driver running: level 2",
            [](M& m) { m.serviceExists = m.running = true; },
            PortAccessResult::kDeviceOpened,
            {"version", kDevice, "close device"}},
           {"stopped service starts: level 3",
            [](M& m) { m.serviceExists = true; },
            PortAccessResult::kServiceStarted,
            {"version", kDevice, kManager, kQuery, kFolder, kOpenService, "start",
             "close service 3", kDevice, "close device"}},
           {"newly created: level 4",
            [](M&) {},
            PortAccessResult::kNewlyInstalled,
            {"version", kDevice, kManager, kQuery, kOpenService, kFolder, kCreate,
             "close service 2", kOpenService, "start", "close service 3", kDevice, "close device"}},
           {"file and folder safe, the file there: created",
            [](M& m) { m.fileExists = true; },
            PortAccessResult::kNewlyInstalled,
            {"version", kDevice, kManager, kQuery, kOpenService, kFolder, kFile, kCreate,
             "close service 2", kOpenService, "start", "close service 3", kDevice, "close device"}},
           {"created but the start fails: refused at level 5",
            [](M& m) { m.startWorks = false; },
            PortAccessResult::kFailed,
            {"version", kDevice, kManager, kQuery, kOpenService, kFolder, kCreate,
             "close service 2", kOpenService, "start", "close service 3", kCreate}},
           {"second run after that: start fails, creation refused",
            [](M& m) {
              m.serviceExists = true;
              m.startWorks = false;
            },
            PortAccessResult::kFailed,
            {"version", kDevice, kManager, kQuery, kFolder, kOpenService, "start",
             "close service 3", kFolder, kCreate}},
           {"started but the device does not open",
            [](M& m) {
              m.serviceExists = true;
              m.deviceWorks = false;
            },
            PortAccessResult::kFailed,
            {"version", kDevice, kManager, kQuery, kFolder, kOpenService, "start",
             "close service 3", kDevice, kFolder, kCreate}},
           {"no right to the service manager",
            [](M& m) { m.managerOpens = false; },
            PortAccessResult::kFailed,
            {"version", kDevice, kManager, kManager, kFolder, kManager}},
           {"the file writable by Users",
            [](M& m) {
              m.fileExists = true;
              m.security["C:\\night\\giveio.sys"] =
                  M::Granting("S-1-5-32-545", "BUILTIN\\Users", 0x0002);
            },
            PortAccessResult::kFailed,
            {"version", kDevice, kManager, kQuery, kOpenService, kFolder, kFile},
            "ERROR: Can't use LPT port.\ngiveio.sys can be changed by other users (BUILTIN\\Users "
            "may write C:\\night\\giveio.sys); " +
                kMoveIt},
           {"the file owned by another user",
            [](M& m) {
              m.fileExists = true;
              FileSecurity s = M::Safe();
              s.ownerSid = "S-1-5-21-7-7-7-1002";
              s.ownerAccount = "NIGHT\\guest";
              m.security["C:\\night\\giveio.sys"] = s;
            },
            PortAccessResult::kFailed,
            {"version", kDevice, kManager, kQuery, kOpenService, kFolder, kFile},
            "ERROR: Can't use LPT port.\ngiveio.sys can be changed by other users (NIGHT\\guest "
            "(its owner) may write C:\\night\\giveio.sys); " +
                kMoveIt},
           {"the folder writable by Everyone",
            [&](M& m) { unsafeFolder(m, "C:\\night"); },
            PortAccessResult::kFailed,
            {"version", kDevice, kManager, kQuery, kOpenService, kFolder},
            "ERROR: Can't use LPT port.\ngiveio.sys is in a folder other users can change "
            "(Everyone may add or delete files in C:\\night); " +
                kMoveIt},
           {"the folder writable by Users, but only for what is made inside",
            [](M& m) {
              FileSecurity s = M::Safe();
              s.allowed.push_back({"S-1-5-32-545", "BUILTIN\\Users", 0x0002, true});
              m.security["C:\\night"] = s;
            },
            PortAccessResult::kNewlyInstalled,
            {"version", kDevice, kManager, kQuery, kOpenService, kFolder, kCreate,
             "close service 2", kOpenService, "start", "close service 3", kDevice, "close device"}},
           {"a registered service whose file is in a folder others can change",
            [&](M& m) {
              m.serviceExists = true;
              m.registeredPath = "C:\\Users\\guest\\Downloads\\giveio.sys";
              unsafeFolder(m, "C:\\Users\\guest\\Downloads");
            },
            PortAccessResult::kFailed,
            {"version", kDevice, kManager, kQuery, "security C:\\Users\\guest\\Downloads"},
            "ERROR: Can't use LPT port.\nthe registered giveio service's driver is in a folder "
            "other users can change (Everyone may add or delete files in "
            "C:\\Users\\guest\\Downloads); move it where only administrators can write, such as "
            "the folder velmora is installed in; or remove the service as an administrator (sc "
            "stop giveio, sc delete giveio)."},
           {"the permissions cannot be read",
            [](M& m) {
              FileSecurity s;
              s.why = "The request is not supported";
              m.security["C:\\night"] = s;
            },
            PortAccessResult::kFailed,
            {"version", kDevice, kManager, kQuery, kOpenService, kFolder},
            "ERROR: Can't use LPT port.\nthe permissions of the folder of giveio.sys (C:\\night) "
            "cannot be read (The request is not supported); velmora starts no driver it cannot "
            "check: " +
                kMoveIt},
       }) {
    CallLog log, hostLog;
    FakeServiceManager manager(log);
    c.setup(manager);
    GiveioAccess access(manager);
    EXPECT_EQ(access.SetUpPortAccess(0x378), c.result) << c.name;
    EXPECT_EQ(log, c.calls) << c.name;
    if (c.box.empty()) continue;
    testing::FakeHost host(hostLog);
    access.ReportFailure(host);
    EXPECT_EQ(host.boxes, std::vector<std::string>{c.box}) << c.name;
  }
}

TEST(PortAccessLadderTest, ManagerHandleIsOpenedOnceAndKept) {
  CallLog log;
  FakeServiceManager manager(log);
  GiveioAccess access(manager);
  EXPECT_EQ(access.OpenServiceManager(), 0u);
  EXPECT_EQ(access.StartDriverService("giveio"), 1060u);  // no such service yet
  EXPECT_EQ(access.CreateDriverService("giveio.sys", "giveio"), 0u);
  EXPECT_EQ(access.CreateDriverService("giveio.sys", "giveio"), 1073u);
  EXPECT_EQ(std::count(log.begin(), log.end(), "open manager f003f"), 1);
  EXPECT_NE(access.ServiceManagerHandle(), nullptr);
  manager.managerOpens = false;
  GiveioAccess denied(manager);
  EXPECT_EQ(denied.OpenServiceManager(), 5u);
  EXPECT_EQ(denied.StartDriverService("giveio"), 1u);
  EXPECT_EQ(denied.CreateDriverService("giveio.sys", "giveio"), 1u);
}

TEST(PortAccessLadderTest, FailureBoxesDependOnTheDriverFile) {
  for (bool present : {false, true}) {
    CallLog log, hostLog;
    FakeServiceManager manager(log);
    manager.fileExists = present;
    testing::FakeHost host(hostLog);
    GiveioAccess access(manager);
    access.ReportFailure(host);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0], present
                                 ? "INSTALLED: GIVEIO.SYS installed!\nPlease to reset comp."
                                 : "ERROR: Can't use LPT port.\nThis is take a GIVEIO.SYS file.");
  }
}

}  // namespace
}  // namespace velmora
