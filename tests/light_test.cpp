// Light mode: the port-access ladder against a fake service manager, the
// light thread's modulation and light-mode programmes on the sim platform.
#include <gtest/gtest.h>

#include <initializer_list>
#include <thread>

#include "app/main_window.h"
#include "fake_services.h"
#include "generator/generator.h"
#include "output/giveio_access.h"
#include "output/light_output.h"
#include "platform/sim/recording_port.h"
#include "sim_night.h"

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
    int result;
    CallLog calls;
  };
  for (const Case& c : std::vector<Case>{
           {"not NT", [](FakeServiceManager& m) { m.platform = 1; }, 1, {"version"}},
           {"version query fails",
            [](FakeServiceManager& m) { m.platform.reset(); },
            1,
            {"version"}},
           {"driver running: level 2",
            [](FakeServiceManager& m) { m.serviceExists = m.running = true; },
            2,
            {"version", kDevice, "close device"}},
           {"stopped service starts: level 3",
            [](FakeServiceManager& m) { m.serviceExists = true; },
            3,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", "start",
             "close service 3", kDevice, "close device"}},
           {"newly created: level 4",
            [](FakeServiceManager&) {},
            4,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", kCreate,
             "close service 2", "open service giveio f01ff", "start", "close service 3", kDevice,
             "close device"}},
           {"created but the start fails: refused at level 5",
            [](FakeServiceManager& m) { m.startWorks = false; },
            0,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", kCreate,
             "close service 2", "open service giveio f01ff", "start", "close service 3", kCreate}},
           {"second run after that: start fails, creation refused",
            [](FakeServiceManager& m) {
              m.serviceExists = true;
              m.startWorks = false;
            },
            0,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", "start",
             "close service 3", kCreate}},
           {"started but the device does not open",
            [](FakeServiceManager& m) {
              m.serviceExists = true;
              m.deviceWorks = false;
            },
            0,
            {"version", kDevice, "open manager f003f", "open service giveio f01ff", "start",
             "close service 3", kDevice, kCreate}},
           {"no right to the service manager",
            [](FakeServiceManager& m) { m.managerOpens = false; },
            0,
            {"version", kDevice, "open manager f003f", "open manager f003f"}},
       }) {
    CallLog log;
    FakeServiceManager manager(log);
    c.setup(manager);
    GiveioAccess access(manager);
    EXPECT_EQ(access.SetUpPortAccess(), c.result) << c.name;
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

TEST(LightThreadTest, DutyOverRunsOf64Writes) {
  struct Case {
    int16_t envelope;
    int16_t pattern;
    uint16_t port;
    int lit;
  };
  for (const Case& c : std::initializer_list<Case>{
           {0, 255, 0x378, 0},
           {32, 255, 0x378, 32},
           {63, 255, 0x378, 63},
           {32, 3, 0x278, 32},
           {63, 3, 0x278, 63},
           {-5, 255, 0x378, 0},
           {64, 255, 0x378, 64},
       }) {
    SharedState s;
    SimClock clock;
    RecordingPort port(clock);
    s.lptDataPort = c.port;
    s.lptOnPattern = c.pattern;
    s.envelopeNow = c.envelope;
    LightThreadContext light{s, port};
    for (int run = 0; run < 2; ++run) {
      for (int i = 0; i < 16; ++i) LightWrites(light);  // 64 writes
    }
    const auto& w = port.Records();
    ASSERT_EQ(w.size(), 128u);
    for (size_t i = 0; i < w.size(); ++i) {
      const bool lit = static_cast<int>(i % 64) < c.lit;
      EXPECT_EQ(w[i].value, lit ? static_cast<uint8_t>(c.pattern) : 0) << c.envelope << " " << i;
      EXPECT_EQ(w[i].port, c.port);
    }
  }
}

TEST(LightThreadTest, InitialWrites) {
  for (uint16_t data : {uint16_t{0x378}, uint16_t{0x278}}) {
    SharedState s;
    s.lptDataPort = data;
    s.lptControlPort = static_cast<uint16_t>(data + 2);
    s.lptOnPattern = 3;
    SimClock clock;
    RecordingPort port(clock);
    InitPortRegisters(s, port, clock);
    ASSERT_EQ(port.Records().size(), 2u);
    EXPECT_EQ(port.Records()[0].timeMs, 5);
    EXPECT_EQ(port.Records()[0].port, data + 2);
    EXPECT_EQ(port.Records()[0].value, 0);
    EXPECT_EQ(port.Records()[1].port, data);
    EXPECT_EQ(port.Records()[1].value, 255);  // whatever the pattern
  }
}

TEST(LightThreadTest, EndsForGoodWithTheFirstProgrammeWritingZero) {
  SharedState s;
  testing::ReadWords(s, {"m1", ".", "r1", "+0", "!3"});
  SimClock clock(0);
  RecordingPort generatorPort(clock);  // the generator must not write the port
  testing::CountingPort lightPort;
  LightThreadContext light{s, lightPort};
  std::thread lightThread([&light] { LightThread(light); });
  while (lightPort.count.load() == 0) std::this_thread::yield();

  Generator g(s, clock, generatorPort);
  struct StopAfterHealing : GeneratorObserver {
    Generator* g;
    int healingPhases = 0;
    void OnPhaseStart(Phase phase, int64_t) override {
      if (phase == Phase::kHealing && ++healingPhases == 2) g->RequestStop();
    }
  } stop;
  stop.g = &g;
  g.observer = &stop;
  GeneratorThread(g);  // one programme, then healing starts again
  lightThread.join();  // ended by the programme's end
  EXPECT_EQ(lightPort.last.load(), 0);
  EXPECT_TRUE(generatorPort.Records().empty());
  EXPECT_EQ(s.sleepRunning, 0);
  const int64_t writes = lightPort.count.load();
  EXPECT_GT(writes, 4);
}

TEST(LightModeProgrammeTest, PortPulsesFollowThePlanSteps) {
  SharedState s;
  testing::ReadWords(s, {"m1", ".", "!-1"});  // light mode, no light level
  SimClock clock(0);
  RecordingPort port(clock);
  Generator g(s, clock, port);
  struct StopAtStep3 : GeneratorObserver {
    Generator* g;
    std::vector<int64_t> stepTimes;
    SimClock* clock;
    void OnStepStart(Phase phase, int64_t n) override {
      if (phase != Phase::kSleepProgramme) return;
      stepTimes.push_back(clock->NowMs());
      if (n == 3) g->RequestStop();
    }
  } stop;
  stop.g = &g;
  stop.clock = &clock;
  g.observer = &stop;
  GeneratorThread(g);
  ASSERT_EQ(stop.stepTimes.size(), 3u);
  // Step 1: halfPeriod 888, 68 pulses of 888 >> 4 = 55 ms, each lit for
  // ((888 - dutyOffset) * amplitude) >> 11 ms with dutyOffset (888 * 2 >> 2) + 1.
  std::vector<int64_t> onTimes;
  for (const PortRecord& r : port.Records()) {
    if (r.value == 255 && r.timeMs >= stop.stepTimes[0] && r.timeMs < stop.stepTimes[1]) {
      onTimes.push_back(r.timeMs);
    }
  }
  ASSERT_EQ(onTimes.size(), 68u);
  for (size_t i = 1; i < onTimes.size(); ++i) EXPECT_EQ(onTimes[i] - onTimes[i - 1], 55) << i;
  // From step 1's last pulse to step 2's start: that pulse's 55 ms, then step
  // 2's gap of ((gapLead 888 + halfPeriod 894) >> 5) ms times its 68 pulses.
  EXPECT_EQ(stop.stepTimes[1] - onTimes.back(), 55 + ((888 + 894) >> 5) * 68);
}

}  // namespace
}  // namespace velmora
