// The Linux parallel port's routes: the kernel's devices matched by address,
// and what a user is told when no route exists.
#include "platform/linux/linux_port.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/main_window.h"
#include "fake_services.h"

namespace velmora {
namespace {

using testing::CallLog;

class LinuxPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("velmora-port-" + std::to_string(getpid()));
    std::filesystem::create_directories(root_ / "dev");
    std::filesystem::create_directories(root_ / "proc");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  void AddParport(int n, unsigned base) {
    std::ofstream(root_ / "dev" / ("parport" + std::to_string(n))) << "";
    std::filesystem::create_directories(root_ / "proc" / ("parport" + std::to_string(n)));
    std::ofstream(root_ / "proc" / ("parport" + std::to_string(n)) / "base-addr")
        << base << "\t" << base + 0x400 << "\n";
  }
  std::filesystem::path root_;
};

TEST_F(LinuxPortTest, SaysWhatWasTriedWhenNoRouteExists) {
  struct Case {
    std::vector<std::pair<int, unsigned>> devices;
    const char* expect;
  };
  for (const Case& c : std::vector<Case>{
           {{}, "no "},
           {{{0, 0x278}}, "parport0 is at another address"},
           {{{0, 0x378}}, "parport0: cannot claim it"},
       }) {
    std::filesystem::remove_all(root_ / "dev");
    std::filesystem::create_directories(root_ / "dev");
    for (auto [n, base] : c.devices) AddParport(n, base);
    LinuxPort port((root_ / "dev").string(), (root_ / "proc").string(), /*tryDirect=*/false);
    EXPECT_EQ(port.SetUpPortAccess(0x378), PortAccessResult::kFailed);
    EXPECT_NE(port.Attempts().find(c.expect), std::string::npos) << port.Attempts();
    CallLog log;
    testing::FakeHost host(log);
    port.ReportFailure(host);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].substr(0, 32), "ERROR: Can't use LPT port 0378.\n");
    // Writes without a route go nowhere and do not fail.
    port.PortWrite(0x378, 255);
  }
}

TEST(LightModeAppTest, NoRouteEndsWithTheMessageAndZero) {
  CallLog log;
  SimClock sim(0);
  testing::LoggingClock clock(log, sim);
  testing::FakeThreads threads(log);
  testing::LoggingWave wave(log);
  testing::FakeHost host(log);
  RasterCanvas canvas(288, 272, nullptr);
  SharedState state;
  LinuxPort port("/nonexistent-dev", "/nonexistent-proc", /*tryDirect=*/false);
  App app(state, AppServices{clock, threads, wave, port, host, canvas, port}, {"!", "0278"});
  EXPECT_EQ(RunVelmora(app), 0);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_NE(host.boxes[0].find("Can't use LPT port 0278."), std::string::npos);
  EXPECT_EQ(threads.started, 0);
}

}  // namespace
}  // namespace velmora
