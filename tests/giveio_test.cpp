// The giveio port-access ladder of the Windows build against a fake service
// manager: every rung, the manager handle kept, the failure boxes.
#include <gtest/gtest.h>

#include <functional>
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
  bool FileExists(const std::string& file) override { return fileExists && file == "giveio.sys"; }

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

TEST(PortAccessLadderTest, EveryRung) {
  struct Case {
    const char* name;
    std::function<void(FakeServiceManager&)> setup;
    PortAccessResult result;
    CallLog calls;
  };
  for (const Case& c : std::vector<Case>{
           {"not NT",
            [](FakeServiceManager& m) { m.platform = 1; },
            PortAccessResult::kNoDriverNeeded,
            {"version"}},
           {"version query fails",
            [](FakeServiceManager& m) { m.platform.reset(); },
            PortAccessResult::kNoDriverNeeded,
            {"version"}},
           {"driver running: level 2",
            [](FakeServiceManager& m) { m.serviceExists = m.running = true; },
            PortAccessResult::kDeviceOpened,
            {"version", kDevice, "close device"}},
           {"stopped service starts: level 3",
            [](FakeServiceManager& m) { m.serviceExists = true; },
            PortAccessResult::kServiceStarted,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", "start",
             "close service 3", kDevice, "close device"}},
           {"newly created: level 4",
            [](FakeServiceManager&) {},
            PortAccessResult::kNewlyInstalled,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", kCreate,
             "close service 2", "open service giveio f01ff", "start", "close service 3", kDevice,
             "close device"}},
           {"created but the start fails: refused at level 5",
            [](FakeServiceManager& m) { m.startWorks = false; },
            PortAccessResult::kFailed,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", kCreate,
             "close service 2", "open service giveio f01ff", "start", "close service 3", kCreate}},
           {"second run after that: start fails, creation refused",
            [](FakeServiceManager& m) {
              m.serviceExists = true;
              m.startWorks = false;
            },
            PortAccessResult::kFailed,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", "start",
             "close service 3", kCreate}},
           {"started but the device does not open",
            [](FakeServiceManager& m) {
              m.serviceExists = true;
              m.deviceWorks = false;
            },
            PortAccessResult::kFailed,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", "start",
             "close service 3", kDevice, kCreate}},
           {"no right to the service manager",
            [](FakeServiceManager& m) { m.managerOpens = false; },
            PortAccessResult::kFailed,
            {"version", kDevice, "open manager f003f", "open manager f003f"}},
       }) {
    CallLog log;
    FakeServiceManager manager(log);
    c.setup(manager);
    GiveioAccess access(manager);
    EXPECT_EQ(access.SetUpPortAccess(0x378), c.result) << c.name;
    EXPECT_EQ(log, c.calls) << c.name;
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
