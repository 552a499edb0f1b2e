// The lights on a serial line: the setting's forms, what reaches the line,
// the failure message, and a line that goes away during the night.
#include "platform/serial/serial_lights.h"

#include <gtest/gtest.h>

#include <deque>

#include "fake_services.h"
#include "platform/sim/sim_clock.h"

namespace velmora {
namespace {

using testing::CallLog;

TEST(LightLineSettingTest, Forms) {
  struct Case {
    const char* text;
    const char* device;  // null: refused
    uint32_t baud;
  };
  const Case cases[] = {
      {"/dev/ttyACM0", "/dev/ttyACM0", 1000000},
      {"/dev/ttyUSB0@115200", "/dev/ttyUSB0", 115200},
      {"COM3", "COM3", 1000000},
      {"COM3@9600", "COM3", 9600},
      {"a@b@500000", "a@b", 500000},  // the last '@' gives the speed
      {"@9600", nullptr, 0},
      {"/dev/ttyACM0@", nullptr, 0},
      {"/dev/ttyACM0@fast", nullptr, 0},
      {"/dev/ttyACM0@-9600", nullptr, 0},
      {"/dev/ttyACM0@9600x", nullptr, 0},
      {"/dev/ttyACM0@49", nullptr, 0},
      {"/dev/ttyACM0@4000001", nullptr, 0},
      {"/dev/ttyACM0@99999999999999999999", nullptr, 0},
  };
  for (const Case& c : cases) {
    std::string why;
    const std::optional<LightLineSetting> s = ParseLightLine(c.text, why);
    if (c.device == nullptr) {
      EXPECT_FALSE(s) << c.text;
      EXPECT_FALSE(why.empty()) << c.text;
      continue;
    }
    ASSERT_TRUE(s) << c.text << ": " << why;
    EXPECT_EQ(s->device, c.device);
    EXPECT_EQ(s->baud, c.baud) << c.text;
  }
}

// A line that records what it is sent and can be made to fail.
class FakeLine final : public SerialLine {
 public:
  std::string openError;   // what Open answers
  int failSendAfter = -1;  // sends that succeed before the line goes
  std::vector<uint8_t> sent;
  std::vector<std::string> opens;
  int closes = 0;

  std::string Open(const std::string& device, uint32_t baud) override {
    opens.push_back(device + "@" + std::to_string(baud));
    return openError;
  }
  bool Send(uint8_t byte, std::string& why) override {
    if (failSendAfter == 0) {
      why = "Input/output error";
      return false;
    }
    if (failSendAfter > 0) --failSendAfter;
    sent.push_back(byte);
    return true;
  }
  void Close() override { ++closes; }

  // A virtual steady clock: each send takes `sendNanos`, waits add theirs.
  int64_t now = 0;
  int64_t sendNanos = 100;
  std::vector<int64_t> waits;
  int64_t NowNanos() override { return now += sendNanos; }
  void WaitNanos(int64_t nanoseconds) override {
    waits.push_back(nanoseconds);
    now += nanoseconds;
  }
};

TEST(SerialLightsTest, UnsetOrEmptyLeavesTheParallelPort) {
  FakeLine line;
  SimClock clock;
  for (const char* setting : {static_cast<const char*>(nullptr), ""}) {
    EXPECT_FALSE(SerialLights(line, clock, setting).Chosen());
  }
  EXPECT_TRUE(line.opens.empty());
}

TEST(SerialLightsTest, OnlyTheDataRegisterReachesTheLineInOrder) {
  FakeLine line;
  SimClock clock;
  SerialLights lights(line, clock, "/dev/ttyACM0@500000");
  ASSERT_TRUE(lights.Chosen());
  EXPECT_EQ(lights.SetUpPortAccess(0x278), PortAccessResult::kNoDriverNeeded);
  EXPECT_EQ(line.opens, std::vector<std::string>{"/dev/ttyACM0@500000"});
  // The start-up's writes, then some of the light thread's.
  const std::pair<uint16_t, uint8_t> writes[] = {{0x27A, 0}, {0x278, 255}, {0x278, 3},
                                                 {0x378, 9}, {0x278, 0},   {0x279, 7}};
  for (const auto& [port, value] : writes) lights.PortWrite(port, value);
  EXPECT_EQ(line.sent, (std::vector<uint8_t>{255, 3, 0}));
  // A second set-up does not open the line again.
  EXPECT_EQ(lights.SetUpPortAccess(0x278), PortAccessResult::kNoDriverNeeded);
  EXPECT_EQ(line.opens.size(), 1u);
}

TEST(SerialLightsTest, FailureSaysTheDeviceAndTheReason) {
  struct Case {
    const char* setting;
    const char* openError;  // the line's answer
    const char* box;
    size_t opens;
  };
  const Case cases[] = {
      {"/dev/ttyACM0", "No such file or directory",
       "ERROR: Can't use the light box on /dev/ttyACM0.\n/dev/ttyACM0: No such file or directory",
       1},
      {"COM7@9600", "The system cannot find the file specified",
       "ERROR: Can't use the light box on COM7.\nCOM7: The system cannot find the file specified",
       1},
      {"/dev/ttyACM0@fast", "",
       "ERROR: Can't use the light box VELMORA_LIGHTS=/dev/ttyACM0@fast.\nthe speed 'fast' is "
       "not a whole number of baud from 50 to 4000000 (give DEVICE or DEVICE@BAUD)",
       0},
  };
  for (const Case& c : cases) {
    FakeLine line;
    line.openError = c.openError;
    SimClock clock;
    CallLog log;
    testing::FakeHost host(log);
    SerialLights lights(line, clock, c.setting);
    EXPECT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kFailed) << c.setting;
    lights.ReportFailure(host);
    EXPECT_EQ(host.boxes, std::vector<std::string>{c.box});
    EXPECT_EQ(line.opens.size(), c.opens) << c.setting;
    lights.PortWrite(0x378, 255);  // nothing is open: nothing is sent
    EXPECT_TRUE(line.sent.empty());
  }
}

TEST(SerialLightsTest, AGoneLineIsOpenedAgainEverySecondAndPacesTheWrites) {
  FakeLine line;
  SimClock clock;
  SerialLights lights(line, clock, "/dev/ttyUSB0");
  ASSERT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kNoDriverNeeded);
  line.failSendAfter = 2;
  for (uint8_t v = 1; v <= 3; ++v) lights.PortWrite(0x378, v);  // the third finds it gone
  EXPECT_EQ(line.sent, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(line.closes, 1);
  // Still gone: each write waits a millisecond instead; one attempt a second.
  line.openError = "No such file or directory";
  const int64_t before = clock.NowMs();
  for (int i = 0; i < 2500; ++i) lights.PortWrite(0x378, 4);
  EXPECT_EQ(clock.NowMs() - before, 2500);
  EXPECT_EQ(line.opens.size(), 1u + 2u);  // set-up, then at 1 s and 2 s
  EXPECT_EQ(line.sent.size(), 2u);
  // Back: the next attempt opens it and the write goes out.
  line.openError.clear();
  line.failSendAfter = -1;
  for (int i = 0; i < 600; ++i) lights.PortWrite(0x378, 5);
  EXPECT_EQ(line.opens.size(), 4u);
  ASSERT_GT(line.sent.size(), 2u);
  EXPECT_EQ(line.sent.back(), 5);
  EXPECT_LT(clock.NowMs() - before, 2500 + 600);  // writes no longer wait once it is back
}

TEST(SerialLightsTest, BytesRunAFewMillisecondsAheadOfTheWireAtMost) {
  struct Case {
    const char* setting;
    int bytes;
    int64_t sendNanos;  // the writer's own time per byte
    int64_t lineNanos;  // the line's time for them all
    bool waits;
  };
  const Case cases[] = {
      {"/dev/ttyACM0", 20000, 100, 200'000'000, true},     // the light thread at 1 Mbaud
      {"/dev/ttyACM0@9600", 200, 100, 208'333'200, true},  // a slow line
      {"/dev/ttyACM0@115200", 50, 27'000'000, 0, false},   // pulses now and then
  };
  for (const Case& c : cases) {
    FakeLine line;
    line.sendNanos = c.sendNanos;
    SimClock clock;
    SerialLights lights(line, clock, c.setting);
    ASSERT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kNoDriverNeeded);
    const int64_t start = line.now;
    for (int i = 0; i < c.bytes; ++i) lights.PortWrite(0x378, static_cast<uint8_t>(i));
    const int64_t took = line.now - start;
    EXPECT_EQ(line.sent.size(), static_cast<size_t>(c.bytes));
    EXPECT_EQ(!line.waits.empty(), c.waits) << c.setting;
    if (!c.waits) continue;
    // At the line's pace, a few milliseconds ahead of it at the end...
    EXPECT_GE(took, c.lineNanos - kLineLeadHighNanos) << c.setting;
    EXPECT_LE(took, c.lineNanos) << c.setting;
    // ...in waits of at least the gap between the marks, not one per byte.
    for (int64_t w : line.waits) ASSERT_GE(w, kLineLeadHighNanos - kLineLeadLowNanos) << c.setting;
  }
}

}  // namespace
}  // namespace velmora
