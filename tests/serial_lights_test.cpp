// The lights on a serial line: the setting's forms, what reaches the line,
// the failure message, and a line that goes away during the night.
#include "platform/serial/serial_lights.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "app/options.h"
#include "fake_services.h"
#include "generator/generator.h"
#include "platform/box_text.h"
#include "platform/sim/recording_port.h"
#include "sim_night.h"

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

// A line that records what it is sent, call by call, on a virtual clock, and
// can be made to fail.
class FakeLine final : public SerialLine {
 public:
  std::string openError;   // what Open answers
  int failSendAfter = -1;  // sends that succeed before the line goes
  // The box by the clock, if set: there, pulled out, or taking no byte (a
  // send then fails at its deadline; an open succeeds).
  enum Box { kThere, kPulled, kStuck };
  std::function<Box(int64_t)> box;
  std::vector<uint8_t> sent;
  std::vector<std::pair<int64_t, size_t>> calls;  // time and size of each send
  std::vector<std::string> opens;
  int closes = 0;

  std::string Open(const std::string& device, uint32_t baud) override {
    opens.push_back(device + "@" + std::to_string(baud));
    if (box && box(now) == kPulled) return "No such file or directory";
    return openError;
  }
  bool Send(const uint8_t* bytes, size_t count, std::string& why) override {
    const Box state = box ? box(now) : kThere;
    if (state == kStuck) {
      why = "the line took 0 of " + std::to_string(count) + " bytes";
      return false;
    }
    if (failSendAfter == 0 || state == kPulled) {
      why = "Input/output error";
      return false;
    }
    if (failSendAfter > 0) --failSendAfter;
    sent.insert(sent.end(), bytes, bytes + count);
    calls.emplace_back(now, count);
    return true;
  }
  void Close() override { ++closes; }

  // A virtual steady clock: each reading takes `readNanos`, waits add theirs
  // (and let the sender run meanwhile).
  int64_t now = 0;
  int64_t readNanos = 0;
  std::vector<int64_t> waits;
  std::function<void(int64_t)> duringWait;
  int64_t NowNanos() override { return now += readNanos; }
  void WaitNanos(int64_t nanoseconds) override {
    waits.push_back(nanoseconds);
    if (duringWait) duringWait(now + nanoseconds);
    now += nanoseconds;
  }
};

// The sender's part, on the line's virtual clock: its steps as they fall
// due, and one whenever a write wakes it (also while the writer pauses).
struct Sending {
  SerialLights& lights;
  FakeLine& line;
  int64_t next = 0;
  uint64_t wakes = 0;
  int steps = 0;                // the sender's wake-ups
  std::vector<int64_t> writes;  // when each byte was written
  // While this says so, the sender is inside a send that the line holds.
  std::function<bool(int64_t)> held;
  Sending(SerialLights& l, FakeLine& f) : lights(l), line(f) {
    line.duringWait = [this](int64_t until) {
      const int64_t now = line.now;
      TakeWake();
      RunTo(until);
      line.now = now;
    };
  }
  void Step() {
    if (held && held(line.now)) {
      next = line.now + kLineCallNanos;  // it looks again once the line lets go
      return;
    }
    ++steps;
    next = lights.SendDue(line.now);
  }
  void TakeWake() {
    if (lights.Wakes() == wakes) return;
    wakes = lights.Wakes();
    Step();
  }
  void RunTo(int64_t t) {
    while (next <= t) {
      line.now = std::max(line.now, next);
      Step();
    }
    line.now = std::max(line.now, t);
  }
  void Write(int64_t t, uint8_t value, uint16_t port = 0x378) {
    RunTo(t);
    writes.push_back(line.now);
    lights.PortWrite(port, value);
    TakeWake();
  }
};

TEST(SerialLightsTest, UnsetOrEmptyLeavesTheParallelPort) {
  FakeLine line;
  for (const char* setting : {static_cast<const char*>(nullptr), ""}) {
    EXPECT_FALSE(SerialLights(line, setting, SerialLights::Sender::kCaller).Chosen());
  }
  EXPECT_TRUE(line.opens.empty());
}

TEST(SerialLightsTest, OnlyTheDataRegisterReachesTheLineInOrder) {
  FakeLine line;
  SerialLights lights(line, "/dev/ttyACM0@500000", SerialLights::Sender::kCaller);
  ASSERT_TRUE(lights.Chosen());
  EXPECT_EQ(lights.SetUpPortAccess(0x278), PortAccessResult::kNoDriverNeeded);
  EXPECT_EQ(line.opens, std::vector<std::string>{"/dev/ttyACM0@500000"});
  // The start-up's writes, then some of the light thread's.
  const std::pair<uint16_t, uint8_t> writes[] = {{0x27A, 0}, {0x278, 255}, {0x278, 3},
                                                 {0x378, 9}, {0x278, 0},   {0x279, 7}};
  for (const auto& [port, value] : writes) lights.PortWrite(port, value);
  lights.SendDue(line.now);
  EXPECT_EQ(line.sent, (std::vector<uint8_t>{255, 3, 0}));
  EXPECT_EQ(line.calls.size(), 1u);  // in one call
  // A second set-up does not open the line again.
  EXPECT_EQ(lights.SetUpPortAccess(0x278), PortAccessResult::kNoDriverNeeded);
  EXPECT_EQ(line.opens.size(), 1u);
}

// The bytes gather and go out together, at most one call a millisecond, in
// the order written; a byte that no other follows goes out within a
// millisecond. A writer that runs ahead and pauses wakes the sender once a
// pause, not once a byte or once a call.
TEST(SerialLightsTest, BatchesOfAMillisecondInTheOrderWritten) {
  struct Write {
    int64_t at;  // 0: as soon as the writer can
    uint8_t value;
  };
  // The light thread at 1 Mbaud: runs of 64 lit and dark, a byte every
  // `every` ns (0: as fast as the pacing lets it).
  auto pwm = [](int bytes, uint8_t lit, int64_t every = 0) {
    std::vector<Write> w;
    for (int i = 0; i < bytes; ++i) w.push_back({i * every, (i / 64) % 2 ? lit : uint8_t{0}});
    return w;
  };
  auto join = [](std::vector<Write> a, const std::vector<Write>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* name;
    std::vector<Write> writes;
    size_t smallestCall;  // but for the first and the last
    bool pauses;          // the writer runs ahead: one wake-up of the sender a pause
  };
  for (const Case& c : std::vector<Case>{
           {"PWM", pwm(5000, 255), 64, true},
           {"a writer no faster than the line", pwm(5000, 255, 10'000), 64, false},
           {"direct mode's on and off",
            {{0, 255}, {487'000'000, 0}, {500'000'000, 255}, {520'000'000, 0}},
            1,
            false},
           {"a pattern change by Space", join(pwm(2000, 255), pwm(2000, 4)), 64, true},
           {"the light thread's end", join(pwm(2000, 255), {{0, 0}}), 64, true},
       }) {
    FakeLine line;
    SerialLights lights(line, "/dev/ttyACM0", SerialLights::Sender::kCaller);
    ASSERT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kNoDriverNeeded);
    Sending sending(lights, line);
    std::vector<uint8_t> written;
    for (const Write& w : c.writes) {
      sending.Write(w.at, w.value);
      written.push_back(w.value);
    }
    sending.RunTo(line.now + kLineCallNanos);
    EXPECT_EQ(line.sent, written) << c.name;
    size_t byte = 0;
    for (size_t i = 0; i < line.calls.size(); ++i) {
      const auto [at, size] = line.calls[i];
      if (i + 1 < line.calls.size()) {
        EXPECT_GE(line.calls[i + 1].first - at, kLineCallNanos) << c.name << " " << i;
        if (i > 0) {
          EXPECT_GE(size, c.smallestCall) << c.name << " " << i;
        }
      }
      // Each byte handed over within a millisecond of its write.
      for (size_t k = byte; k < byte + size; ++k) {
        ASSERT_LE(at - sending.writes[k], kLineCallNanos) << c.name << " byte " << k;
      }
      byte += size;
    }
    EXPECT_EQ(!line.waits.empty(), c.pauses) << c.name;
    if (c.pauses) {
      // Once a pause; besides, its first look, the first byte, and the bytes
      // after the last pause.
      EXPECT_LE(sending.steps, static_cast<int>(line.waits.size()) + 3) << c.name;
    }
  }
}

// A second without writes brings the last byte again, and again each second;
// writes in between bring none.
TEST(SerialLightsTest, QuietForASecondTheLastByteGoesAgain) {
  FakeLine line;
  SerialLights lights(line, "/dev/ttyACM0", SerialLights::Sender::kCaller);
  ASSERT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kNoDriverNeeded);
  Sending sending(lights, line);
  sending.RunTo(3'000'000'000);  // nothing written yet: nothing to repeat
  EXPECT_TRUE(line.calls.empty());
  sending.Write(3'000'000'000, 255);
  sending.Write(3'600'000'000, 7);
  sending.RunTo(6'100'000'000);
  const std::vector<std::pair<int64_t, size_t>> calls{
      {3'000'000'000, 1}, {3'600'000'000, 1}, {4'600'000'000, 1}, {5'600'000'000, 1}};
  EXPECT_EQ(line.calls, calls);
  EXPECT_EQ(line.sent, (std::vector<uint8_t>{255, 7, 7, 7}));
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
    CallLog log;
    testing::FakeHost host(log);
    SerialLights lights(line, c.setting, SerialLights::Sender::kCaller);
    EXPECT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kFailed) << c.setting;
    lights.ReportFailure(host);
    EXPECT_EQ(host.boxes, std::vector<std::string>{c.box});
    EXPECT_EQ(line.opens.size(), c.opens) << c.setting;
    lights.PortWrite(0x378, 255);  // nothing is open: nothing is sent
    lights.SendDue(line.now);
    EXPECT_TRUE(line.sent.empty());
  }
}

// A box's text in lines of at most 60 characters: broken at spaces, a word
// longer than a line (a path) broken where the line is full, the text's own
// line ends kept; and on one line for stderr.
TEST(BoxTextTest, LinesThatFitASmallScreen) {
  const std::string path = "/tmp/" + std::string(70, 'x') + "/ttyACM9";
  struct Case {
    std::string text, wrapped;
  };
  const std::vector<Case> cases{
      {"short", "short"},
      {"Can't use the light box on /dev/ttyACM0.\n/dev/ttyACM0: No such file or directory",
       "Can't use the light box on /dev/ttyACM0.\n/dev/ttyACM0: No such file or directory"},
      {"the speed 'fast' is not a whole number of baud from 50 to 4000000 (give DEVICE or "
       "DEVICE@BAUD)",
       "the speed 'fast' is not a whole number of baud from 50 to\n4000000 (give DEVICE or "
       "DEVICE@BAUD)"},
      {"on " + path + ".", "on\n" + path.substr(0, 60) + "\n" + path.substr(60) + "."},
  };
  for (const Case& c : cases) {
    const std::string wrapped = WrapLines(c.text);
    EXPECT_EQ(wrapped, c.wrapped);
    size_t longest = 0;
    for (size_t from = 0, end = 0; from <= wrapped.size(); from = end + 1) {
      end = std::min(wrapped.find('\n', from), wrapped.size());
      longest = std::max(longest, end - from);
    }
    EXPECT_LE(longest, kBoxLineChars) << wrapped;
    EXPECT_EQ(OneLine(c.wrapped).find('\n'), std::string::npos);
  }
}

// The light thread against a box that is there, pulled out for a while, or
// taking no byte for a while (and the sender held by the line meanwhile): the
// writes keep the pace of a present box every second, the bytes gathered stay
// within a second of the line's, the loss and the return are said once, and
// the value of the moment is the first byte when the box is back.
TEST(SerialLightsTest, ALostBoxCostsWhatAPresentOneDoes) {
  constexpr int64_t kSecond = 1'000'000'000;
  constexpr int64_t kAway = 1 * kSecond, kBack = 2'500'000'000, kEnd = 4 * kSecond;
  struct Case {
    const char* name;
    FakeLine::Box away;  // the box from kAway to kBack
    bool senderHeld;     // the sender stays in its send meanwhile
    int lostLines, backLines;
  };
  const Case cases[] = {
      {"there", FakeLine::kThere, false, 0, 0},
      {"pulled", FakeLine::kPulled, false, 1, 1},
      {"stuck", FakeLine::kStuck, false, 1, 1},
      {"stuck, the sender held", FakeLine::kStuck, true, 1, 1},
  };
  for (const Case& c : cases) {
    FakeLine line;
    line.readNanos = 100;
    line.box = [&c](int64_t t) { return t >= kAway && t < kBack ? c.away : FakeLine::kThere; };
    SerialLights lights(line, "/dev/ttyACM0", SerialLights::Sender::kCaller);
    ASSERT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kNoDriverNeeded);
    Sending sending(lights, line);
    if (c.senderHeld) sending.held = [](int64_t t) { return t >= kAway + 1'000'000 && t < kBack; };
    ::testing::internal::CaptureStderr();
    std::vector<int> perSecond(kEnd / kSecond);
    int written = 0;
    size_t mostGathered = 0;
    uint8_t lastWritten = 0;
    while (line.now < kEnd) {
      // The light thread's modulation until 2 s, then a steady value.
      const uint8_t value = line.now < 2 * kSecond ? (written++ / 64 % 2 ? 255 : 0) : 9;
      ++perSecond[static_cast<size_t>(line.now / kSecond)];
      sending.Write(0, value);
      lastWritten = value;
      mostGathered = std::max(mostGathered, lights.Gathered());
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    for (size_t second = 0; second < perSecond.size(); ++second) {
      // 100,000 bytes a second at 1 Mbaud, the lead of a few milliseconds aside.
      EXPECT_NEAR(perSecond[second], 100'000, 600.0) << c.name << ", second " << second;
    }
    EXPECT_LE(mostGathered, 100'000u) << c.name;
    EXPECT_EQ(lastWritten, 9);
    auto count = [&said](const char* text) {
      size_t n = 0;
      for (size_t at = said.find(text); at != std::string::npos; at = said.find(text, at + 1)) ++n;
      return static_cast<int>(n);
    };
    EXPECT_EQ(count("is gone"), c.lostLines) << c.name << ": " << said;
    EXPECT_EQ(count("is back"), c.backLines) << c.name << ": " << said;
    if (c.away == FakeLine::kThere) continue;
    // Back: the first call after the return carries the value of the moment alone.
    const auto back = std::find_if(line.calls.begin(), line.calls.end(),
                                   [](const auto& call) { return call.first >= kBack; });
    ASSERT_NE(back, line.calls.end()) << c.name;
    EXPECT_LT(back->first, kBack + kReopenNanos + kLineCallNanos) << c.name;
    EXPECT_EQ(back->second, 1u) << c.name;
    size_t before = 0;
    for (auto call = line.calls.begin(); call != back; ++call) before += call->second;
    EXPECT_EQ(line.sent[before], 9) << c.name;
    // Nothing reached the line while the box was away.
    for (const auto& [at, size] : line.calls) {
      ASSERT_FALSE(at > kAway + kLineCallNanos && at < kBack) << c.name << " at " << at;
    }
  }
}

// The sender's own thread at the end of the program: Drain returns only once
// the writer is done and its last byte (the dark one) is with the line, and
// never later than its bound.
TEST(ThreadedSerialLightsTest, DrainWaitsForTheDarkByteWithinItsBound) {
  struct SlowLine final : SerialLine {
    std::mutex mutex;
    std::vector<uint8_t> sent;
    std::atomic<int64_t> sendNanos{0};  // how long the next send holds the sender
    std::string Open(const std::string&, uint32_t) override { return {}; }
    bool Send(const uint8_t* bytes, size_t count, std::string&) override {
      std::this_thread::sleep_for(std::chrono::nanoseconds(sendNanos.exchange(0)));
      std::lock_guard lock(mutex);
      sent.insert(sent.end(), bytes, bytes + count);
      return true;
    }
    void Close() override {}
    int64_t NowNanos() override {
      return std::chrono::duration_cast<std::chrono::nanoseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
          .count();
    }
    void WaitNanos(int64_t n) override { std::this_thread::sleep_for(std::chrono::nanoseconds(n)); }
  };
  struct Case {
    const char* name;
    int64_t sendNanos;
    int64_t writerDoneAfterNanos;  // -1: never (the window closed, the thread runs on)
    bool dark;                     // the line's last byte is 0
    int64_t atLeastNanos, atMostNanos;
  };
  const Case cases[] = {
      {"a quick line", 0, 20'000'000, true, 20'000'000, kDarkAtEndNanos},
      {"a batch in flight for 50 ms", 50'000'000, 0, true, 50'000'000, kDarkAtEndNanos},
      {"a writer that goes on", 0, -1, false, kDarkAtEndNanos, 2 * kDarkAtEndNanos},
  };
  for (const Case& c : cases) {
    SlowLine line;
    SerialLights lights(line, "/dev/ttyACM0");
    ASSERT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kNoDriverNeeded);
    for (int i = 0; i < 500; ++i) lights.PortWrite(0x378, 255);
    // Wait for a batch to be with the line, so that the slow one is in flight.
    while (lights.Gathered() != 0) std::this_thread::yield();
    line.sendNanos = c.sendNanos;
    lights.PortWrite(0x378, 255);
    std::atomic<bool> writerDone{false};
    const int64_t start = line.NowNanos();
    std::thread writer([&] {
      if (c.writerDoneAfterNanos < 0) return;
      line.WaitNanos(c.writerDoneAfterNanos);
      lights.PortWrite(0x378, 0);
      writerDone = true;
    });
    lights.Drain(kDarkAtEndNanos, [&] { return writerDone.load(); });
    const int64_t took = line.NowNanos() - start;
    {
      std::lock_guard lock(line.mutex);
      ASSERT_FALSE(line.sent.empty());
      EXPECT_EQ(line.sent.back() == 0, c.dark) << c.name;
    }
    EXPECT_GE(took, c.atLeastNanos) << c.name;
    EXPECT_LE(took, c.atMostNanos) << c.name;
    writer.join();
  }
}

// Direct mode's pulses through a box that goes away early in the night and
// stays away: the generator writes the port itself, and its pulses keep the
// times they have on a port (were the box waited for, the line's waits would
// move the generator's clock).
TEST(SerialLightsTest, AMissingBoxLeavesTheGeneratorsPulsesOnTime) {
  struct Night {
    SharedState state;
    SimClock clock{testing::k2320Utc};
    RecordingPort recorded{clock};
    std::vector<PortRecord> Run(Port* box, const std::function<void()>& sender) {
      ReadOptions(state, {"m1", ".", "r2", "+0", "!-1"});  // light mode, no light level
      struct Both : Port {
        Night* night;
        Port* box;
        std::function<void()> sender;
        void PortWrite(uint16_t port, uint8_t value) override {
          night->recorded.PortWrite(port, value);
          if (box) box->PortWrite(port, value);
          if (sender) sender();
        }
      } both;
      both.night = this;
      both.box = box;
      both.sender = sender;
      Generator g(state, clock, both);
      struct Stop : GeneratorObserver {
        Generator* g;
        void OnStepStart(Phase phase, int64_t n) override {
          if (phase == Phase::kSleepProgramme && n == 60) g->RequestStop();
        }
      } stop;
      stop.g = &g;
      g.observer = &stop;
      GeneratorThread(g);
      return recorded.Records();
    }
  };
  Night onAPort;
  const std::vector<PortRecord> expected = onAPort.Run(nullptr, nullptr);
  ASSERT_GT(expected.size(), 100u);

  Night throughTheBox;
  FakeLine line;
  // The line's clock is the night's: its waits would be the generator's.
  line.duringWait = [&](int64_t until) {
    throughTheBox.clock.Sleep(static_cast<int32_t>((until - line.now) / 1'000'000));
  };
  SerialLights lights(line, "/dev/ttyACM0", SerialLights::Sender::kCaller);
  ASSERT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kNoDriverNeeded);
  line.failSendAfter = 20;
  line.openError = "No such file or directory";
  int64_t next = 0;
  const auto sender = [&] {
    line.now = throughTheBox.clock.NowMs() * 1'000'000;
    if (next <= line.now) next = lights.SendDue(line.now);
  };
  const std::vector<PortRecord> got = throughTheBox.Run(&lights, sender);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i].timeMs, expected[i].timeMs) << i;
  EXPECT_EQ(line.calls.size(), 20u);  // then gone...
  EXPECT_GT(line.opens.size(), 10u);  // ...and tried again every second
  EXPECT_TRUE(line.waits.empty());
}

TEST(SerialLightsTest, BytesRunAFewMillisecondsAheadOfTheWireAtMost) {
  struct Case {
    const char* setting;
    int bytes;
    int64_t readNanos;  // the writer's own time per byte
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
    line.readNanos = c.readNanos;
    SerialLights lights(line, c.setting, SerialLights::Sender::kCaller);
    ASSERT_EQ(lights.SetUpPortAccess(0x378), PortAccessResult::kNoDriverNeeded);
    const int64_t start = line.now;
    for (int i = 0; i < c.bytes; ++i) {
      lights.PortWrite(0x378, static_cast<uint8_t>(i));
      lights.SendDue(line.now);
    }
    const int64_t took = line.now - start;
    lights.SendDue(line.now + kLineCallNanos);
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
