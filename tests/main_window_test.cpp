// The main window's logic against recording services: the start-up order, the
// tick, every key rule, the close path and the exit codes.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

#include "fake_services.h"
#include "plan/night_plan.h"
#include "platform/reopen_backoff.h"

namespace velmora {
namespace {

using testing::CallLog;
using testing::FakeHost;
using testing::FakePortAccess;
using testing::FakeThreads;
using testing::LoggingClock;
using testing::LoggingPort;
using testing::LoggingWave;

struct AppBench {
  explicit AppBench(std::vector<std::string> words = {})
      : app(state, Services(), std::move(words)) {
    wave.headers = &app.ring.waveHeaders;
  }
  AppServices Services() { return AppServices{clock, threads, wave, port, host, canvas, access}; }

  CallLog log;
  SimClock sim{80100};  // 22:15 UTC
  LoggingClock clock{log, sim};
  FakeThreads threads{log};
  LoggingWave wave{log};
  LoggingPort port{log};
  FakeHost host{log};
  RasterCanvas canvas{288, 272, nullptr};
  FakePortAccess access{log};
  SharedState state;
  App app;

  bool Create() {
    return host.CreateMainWindow("t", 288, 272,
                                 [this](const WindowMessage& m) { return MainWindowProc(app, m); });
  }
  void Send(WindowEvent e, uint32_t key = 0, const void* header = nullptr) {
    host.Deliver({e, key, header});
  }
  void Key(uint32_t key, bool alt = false) {
    Send(alt ? WindowEvent::kSysKeyDown : WindowEvent::kKeyDown, key);
  }
  // What the generator does first: the plan, then the healing phase's reset
  // of the cycle index; the chart painted.
  void PlanBuiltAndPainted() {
    BuildNightPlan(state);
    for (int f = 0; f < kRepaintFlagCount; ++f) state.repaintFlags[f] = 0;
  }
};

TEST(MainWindowTest, SoundStartupOrder) {
  AppBench b;
  ASSERT_TRUE(b.Create());
  EXPECT_EQ(b.log, (testing::CallLog{"window t 288x272", "wave open 32000", "wave write 0",
                                     "thread stack 4096", "sleep 2000", "wave write 1"}));
  EXPECT_EQ(b.wave.prepares, 17);  // sixteen at open, block 1 again before its write
  EXPECT_EQ(b.state.blocksQueued, 1);
  EXPECT_EQ(b.state.startTime, 80100);
  EXPECT_GE(b.state.moonFactor, 1);
  EXPECT_EQ(b.threads.entries.size(), 1u);  // the generator only
  EXPECT_NE(b.state.generatorThreadHandle.Load(), nullptr);
}

TEST(MainWindowTest, LightStartupOrder) {
  struct Case {
    std::vector<std::string> words;
    testing::CallLog log;
  };
  for (const Case& c : std::vector<Case>{
           {{"!2", "0278"},
            {"window t 288x272", "port access", "sleep 5", "port 27a=0", "port 278=255",
             "thread stack 4096", "thread stack 4096", "sleep 2000", "timer 7fff 1000"}},
           {{"!-1"},
            {"window t 288x272", "port access", "sleep 5", "port 37a=0", "port 378=255",
             "thread stack 4096", "sleep 2000", "timer 7fff 1000"}},
       }) {
    AppBench b(c.words);
    ASSERT_TRUE(b.Create());
    EXPECT_EQ(b.log, c.log) << c.words[0];
    EXPECT_EQ(b.state.soundMode, 0);
  }
}

TEST(MainWindowTest, PortAccessResults) {
  struct Case {
    PortAccessResult result;
    bool created;
    int exitCode;
    size_t boxes;
  };
  for (const Case& c : std::initializer_list<Case>{
           {PortAccessResult::kFailed, false, 0, 1},
           {PortAccessResult::kNoDriverNeeded, true, 0, 0},
           {PortAccessResult::kDeviceOpened, true, 0, 0},
           {PortAccessResult::kServiceStarted, true, 0, 0},
           {PortAccessResult::kNewlyInstalled, false, 0, 0},
       }) {
    AppBench b({"!"});
    b.access.result = c.result;
    b.host.script = {{WindowEvent::kKeyDown, kVkEscape}};
    const int named = static_cast<int>(c.result);
    EXPECT_EQ(RunVelmora(b.app), c.exitCode) << named;
    EXPECT_EQ(b.host.windowAlive, c.created) << named;
    EXPECT_EQ(b.host.boxes.size(), c.boxes) << named;
    EXPECT_EQ(b.threads.started, c.created ? 2 : 0) << named;
    EXPECT_EQ(b.access.base, 0x378) << named;
    EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "port 37a=0"), c.created ? 1 : 0);
  }
}

TEST(MainWindowTest, ThreadThatCannotStartEndsWithOne) {
  struct Case {
    std::vector<std::string> words;
    int failAt;
  };
  for (const Case& c : std::vector<Case>{{{}, 1}, {{"!3"}, 1}, {{"!3"}, 2}}) {
    AppBench b(c.words);
    b.threads.failAt = c.failAt;
    EXPECT_EQ(RunVelmora(b.app), 1);
    EXPECT_FALSE(b.host.windowAlive);
    EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "sleep 2000"), 0);
  }
}

TEST(MainWindowTest, EscapeEndsWithZeroInBothModes) {
  for (const std::vector<std::string>& words : {std::vector<std::string>{}, {"!"}}) {
    AppBench b(words);
    b.host.script = {{WindowEvent::kKeyDown, kVkEscape}, {WindowEvent::kKeyDown, kVkReturn}};
    EXPECT_EQ(RunVelmora(b.app), 0);
    EXPECT_EQ(b.state.sleepRunning, 0);
    const bool sound = words.empty();
    EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "wave close"), sound ? 1 : 0);
    EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "kill timer 7fff"), sound ? 0 : 1);
    // The window stays until the process ends: no destroy.
    EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "destroy"), 0);
  }
}

TEST(MainWindowTest, PowerHeldFromStartUpToTheClosePathOnce) {
  struct Case {
    const char* name;
    std::vector<std::string> words;
    std::vector<WindowMessage> events;  // sent after creation
    bool refuse;
    int releases;
  };
  const WindowMessage escape{WindowEvent::kKeyDown, kVkEscape};
  const WindowMessage close{WindowEvent::kClose};
  const WindowMessage deviceClosed{WindowEvent::kWaveClose};
  const WindowMessage destroy{WindowEvent::kDestroy};  // no close path: the loop just ends
  for (const Case& c : std::vector<Case>{
           {"escape", {}, {escape}, false, 1},
           {"escape in light mode", {"!3"}, {escape}, false, 1},
           {"close command", {}, {close}, false, 1},
           {"the device closes mid-night", {}, {deviceClosed, escape}, false, 1},
           {"destroyed from outside", {}, {destroy}, false, 1},
           {"the system refuses: nothing to release", {}, {escape}, true, 0},
       }) {
    AppBench b(c.words);
    testing::FakePower power(b.log);
    power.refuse = c.refuse;
    b.app.services.power = &power;
    b.host.script = c.events;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunVelmora(b.app), 0) << c.name;
    // A notice after the end (the device's own close) runs the close path again.
    b.Send(WindowEvent::kWaveClose);
    const std::string err = ::testing::internal::GetCapturedStderr();
    // Held after the option words and before the output starts.
    const auto hold = std::find(b.log.begin(), b.log.end(), "power hold");
    ASSERT_NE(hold, b.log.end()) << c.name;
    EXPECT_EQ(std::next(hold), std::find(b.log.begin(), b.log.end(),
                                         c.words.empty() ? "wave open 32000" : "port access"))
        << c.name;
    EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "power release"), c.releases) << c.name;
    EXPECT_EQ(err, c.refuse ? "velmora: cannot keep the computer awake (no bus); it may suspend "
                              "during the night\n"
                            : "")
        << c.name;
  }
}

TEST(MainWindowTest, PowerIsLetGoWhenCreationStops) {
  AppBench b({"!"});
  testing::FakePower power(b.log);
  b.app.services.power = &power;
  b.access.result = PortAccessResult::kFailed;
  EXPECT_EQ(RunVelmora(b.app), 0);
  EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "power hold"), 1);
  EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "power release"), 1);
}

TEST(MainWindowTest, CloseCommandDestroysAndQuits) {
  AppBench b;
  ASSERT_TRUE(b.Create());
  b.Send(WindowEvent::kClose);
  EXPECT_EQ(b.state.sleepRunning, 1);  // the close command does not stop the output
  EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "wave close"), 1);
  EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "quit 0"), 2);  // close path and destroy
  EXPECT_FALSE(b.host.windowAlive);
  // The device's own closed notice runs the close path again: nothing twice.
  b.Send(WindowEvent::kWaveClose);
  EXPECT_EQ(std::count(b.log.begin(), b.log.end(), "wave close"), 1);
}

TEST(MainWindowTest, TicksFromBlocksAndTimer) {
  AppBench b;
  ASSERT_TRUE(b.Create());
  b.log.clear();
  b.Send(WindowEvent::kWaveDone, 0, &b.app.ring.waveHeaders[0]);
  EXPECT_EQ(b.state.tickCount, 1);
  EXPECT_EQ(b.state.playedMs, 1000);
  EXPECT_EQ(b.host.invalidations, 1);
  EXPECT_EQ(b.log, (testing::CallLog{"wave write 2"}));
  // A header that is not one of the ring's: no tick.
  WaveHeader foreign;
  b.Send(WindowEvent::kWaveDone, 0, &foreign);
  EXPECT_EQ(b.state.tickCount, 1);
  EXPECT_EQ(b.host.invalidations, 1);

  AppBench light({"!"});
  ASSERT_TRUE(light.Create());
  light.Send(WindowEvent::kTimer, kTickTimerId);
  light.Send(WindowEvent::kTimer, 5);  // the identifier is not examined
  EXPECT_EQ(light.state.tickCount, 2);
  EXPECT_EQ(light.host.invalidations, 2);
  EXPECT_EQ(light.state.playedMs, 0);
}

// While no device plays, the one-second timer hands the blocks back by the
// clock (a late tick makes up the seconds it missed); when the device comes
// back it is handed the block due now and the next; each way said once.
TEST(MainWindowTest, TheTimerStandsInWhileTheDeviceIsAway) {
  AppBench b;
  b.wave.opens = false;
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(b.Create());
  EXPECT_EQ(b.log.back(), "timer 7fff 1000");  // at the end of creation, 2000 ms in
  b.log.clear();
  struct Step {
    const char* what;
    int64_t atMs;
    int32_t playedMs, blocksQueued, tickCount;
    testing::CallLog log;
  };
  for (const Step& step : std::vector<Step>{
           {"tick", 3500, 3000, 4, 3, {}},
           {"tick", 3900, 3000, 4, 3, {}},
           {"tick", 5200, 5000, 6, 5, {}},
           // 700 ms into block 5: it is handed back, and the device starts at 6.
           {"back", 5700, 6000, 7, 6, {"kill timer 7fff", "wave write 6", "wave write 7"}},
           {"done", 6700, 7000, 8, 7, {"wave write 8"}},
           {"tick", 7300, 7000, 8, 7, {}},  // a tick left over changes nothing
           // Block 7 began at 6700: the stand-in goes on from there.
           {"lost", 7400, 7000, 8, 7, {"timer 7fff 1000"}},
           {"tick", 8800, 9000, 10, 9, {}},
           {"escape", 8900, 9000, 10, 9, {"kill timer 7fff", "wave close", "quit 0"}},
       }) {
    b.sim.Advance(step.atMs - b.sim.NowMs());
    const std::string what = step.what;
    if (what == "tick") b.Send(WindowEvent::kTimer, kTickTimerId);
    if (what == "back") b.app.OnWaveBack();
    if (what == "done") b.Send(WindowEvent::kWaveDone, 0, &b.app.ring.waveHeaders[6]);
    if (what == "lost") b.app.OnWaveLost("unplugged");
    if (what == "escape") b.Key(kVkEscape);
    EXPECT_EQ(b.state.playedMs, step.playedMs) << what << " at " << step.atMs;
    EXPECT_EQ(b.state.blocksQueued, step.blocksQueued) << what << " at " << step.atMs;
    EXPECT_EQ(b.state.tickCount, step.tickCount) << what << " at " << step.atMs;
    EXPECT_EQ(b.log, step.log) << what << " at " << step.atMs;
    b.log.clear();
  }
  EXPECT_EQ(b.host.quitCode, 0);
  const std::string said = ::testing::internal::GetCapturedStderr();
  for (const char* line :
       {"velmora: no sound device (no device here); the night runs on in silence",
        "velmora: the sound is back\n",
        "velmora: the sound device went away (unplugged); the night goes on, silent, until it "
        "is back\n"}) {
    EXPECT_NE(said.find(line), std::string::npos) << line;
  }
}

// A device that flaps (away every two seconds for two minutes, then away for
// good): a loss and its return said at most once a minute, the losses left
// unsaid counted in the next line; a loss kept back is said once its minute
// is over if the device is still away. Ticks come once a second meanwhile.
TEST(MainWindowTest, AFlappingDeviceSaysSoOnceAMinute) {
  AppBench b;
  ASSERT_TRUE(b.Create());
  ::testing::internal::CaptureStderr();
  const int64_t start = b.sim.NowMs();
  auto at = [&](int64_t seconds) {
    while (b.sim.NowMs() < start + seconds * 1000) {
      b.sim.Advance(1000);
      if (b.app.ring.deviceAway) b.Send(WindowEvent::kTimer, kTickTimerId);
    }
  };
  for (int64_t k = 0; k <= 64; ++k) {
    at(10 + 2 * k);
    b.app.OnWaveLost("flapping");
    at(11 + 2 * k);
    b.app.OnWaveBack();
  }
  at(150);
  b.app.OnWaveLost("flapping");
  at(250);
  b.app.OnWaveBack();
  const std::string said = ::testing::internal::GetCapturedStderr();
  std::vector<std::string> lines;
  for (size_t from = 0, end; (end = said.find('\n', from)) != std::string::npos; from = end + 1) {
    lines.push_back(said.substr(from, end - from));
  }
  const std::string lost =
      "velmora: the sound device went away (flapping); the night goes on, silent, until it is back";
  const std::string back = "velmora: the sound is back";
  const std::vector<std::string> expected{
      lost,                                                           // at 10 s
      back,                                                           // 11 s
      lost + " (it went away 29 more times since the last message)",  // 70 s
      back,                                                           // 71 s
      lost + " (it went away 29 more times since the last message)",  // 130 s
      back,                                                           // 131 s
      lost + " (it went away 4 more times since the last message)",   // 190 s, away since 150 s
      back,                                                           // 250 s
  };
  EXPECT_EQ(lines, expected);
}

// The waits between tries to reopen: doubling to a second over failed tries
// and over losses of a device that played only briefly; from the first again
// after a device that played for 10 s.
TEST(MainWindowTest, ReopenWaitsBackOffAcrossFlaps) {
  struct Step {
    const char* what;
    int64_t playedMs;  // for a loss
    int delayMs;
  };
  ReopenBackoff backoff;
  EXPECT_EQ(backoff.DelayMs(), 10);
  for (const Step& step : std::vector<Step>{
           {"failed", 0, 20},
           {"failed", 0, 40},
           {"lost", 50, 80},
           {"lost", 50, 160},
           {"lost", 9999, 320},
           {"failed", 0, 640},
           {"lost", 50, 1000},
           {"lost", 50, 1000},
           {"lost", 10000, 10},
           {"lost", 100, 20},
           {"failed", 0, 40},
           {"lost", 60000, 10},
       }) {
    if (std::string(step.what) == "lost") {
      backoff.Lost(step.playedMs);
    } else {
      backoff.Failed();
    }
    EXPECT_EQ(backoff.DelayMs(), step.delayMs) << step.what << " " << step.playedMs;
  }
}

TEST(MainWindowTest, FocusAndMouseOnlyAskForAFullCopy) {
  for (WindowEvent e : {WindowEvent::kSetFocus, WindowEvent::kKillFocus, WindowEvent::kMouseMove,
                        WindowEvent::kLButtonDown, WindowEvent::kRButtonDown}) {
    AppBench b;
    ASSERT_TRUE(b.Create());
    b.state.repaintFlags[kRepaintCopyAll] = 0;
    b.Send(e);
    EXPECT_EQ(b.state.repaintFlags[kRepaintCopyAll], 1);
    EXPECT_EQ(b.host.invalidations, 0);
  }
}

TEST(MainWindowTest, SpaceSwitchesWaveformOrPattern) {
  AppBench sound;
  ASSERT_TRUE(sound.Create());
  sound.Key(kVkSpace);
  EXPECT_EQ(sound.state.toneMode, 1);
  sound.Key(kVkSpace, /*alt=*/true);  // Alt+Space acts as Space
  EXPECT_EQ(sound.state.toneMode, 0);
  EXPECT_EQ(sound.state.repaintFlags[kRepaintPowerRow], 1);
  EXPECT_EQ(sound.state.repaintFlags[kRepaintHelpRows], 1);
  EXPECT_EQ(sound.host.invalidations, 0);  // the next tick shows it

  AppBench light({"!"});
  ASSERT_TRUE(light.Create());
  std::vector<int> patterns;
  for (int i = 0; i < 6; ++i) {
    light.Key(kVkSpace);
    patterns.push_back(light.state.lptOnPattern);
  }
  EXPECT_EQ(patterns, (std::vector<int>{4, 5, 6, 7, 1, 2}));
}

TEST(MainWindowTest, EnterStartsAndStops) {
  AppBench b;
  ASSERT_TRUE(b.Create());
  b.Key(kVkReturn);
  EXPECT_EQ(b.state.healingMode, 0);
  EXPECT_EQ(b.state.sleepRunning, 1);
  b.Key(kVkReturn, /*alt=*/true);
  EXPECT_EQ(b.state.sleepRunning, 0);

  AppBench started({"."});
  ASSERT_TRUE(started.Create());
  started.Key(kVkReturn);  // the programme runs from the start: Enter stops it
  EXPECT_EQ(started.state.sleepRunning, 0);
}

TEST(MainWindowTest, PlanEditsAndTheirConditions) {
  AppBench b;
  ASSERT_TRUE(b.Create());
  b.PlanBuiltAndPainted();
  const int32_t minutes6 = b.state.planMinutes;
  b.Key(kVkUp);
  EXPECT_EQ(b.state.remCount, 5);
  EXPECT_LT(b.state.planMinutes, minutes6);
  EXPECT_EQ(b.state.repaintFlags[kRepaintChart], 1);
  EXPECT_EQ(b.state.envelope[127], 63);  // rebuilt at level 64 too
  b.Key(kVkUp);                          // before the chart is painted: refused
  EXPECT_EQ(b.state.remCount, 5);
  b.state.repaintFlags[kRepaintChart] = 0;
  b.Key(kVkRight);
  EXPECT_EQ(b.state.timePlus, 2);

  struct Bound {
    int32_t remCount, timePlus;
    uint32_t key;
    int32_t remAfter, timeAfter;
  };
  for (const Bound& c : std::initializer_list<Bound>{
           {2, 3, kVkUp, 2, 3},
           {7, 3, kVkDown, 7, 3},
           {4, 0, kVkLeft, 4, 0},
           {4, 6, kVkRight, 4, 6},
           {3, 3, kVkDown, 4, 3},
           {4, 3, kVkLeft, 4, 2},
       }) {
    b.state.remCount = c.remCount;
    b.state.timePlus = c.timePlus;
    b.PlanBuiltAndPainted();
    b.Key(c.key);
    EXPECT_EQ(b.state.remCount, c.remAfter) << c.remCount << " " << c.key;
    EXPECT_EQ(b.state.timePlus, c.timeAfter) << c.timePlus << " " << c.key;
  }

  // During a programme (healing off, or a cycle in progress) nothing changes.
  b.state.remCount = 6;
  b.state.timePlus = 1;
  b.PlanBuiltAndPainted();
  b.state.healingMode = 0;
  for (uint32_t key : {kVkUp, kVkDown, kVkLeft, kVkRight}) b.Key(key);
  EXPECT_EQ(b.state.remCount, 6);
  EXPECT_EQ(b.state.timePlus, 1);
  b.state.healingMode = 1;
  b.state.cycleIndex = 3;  // a programme in progress
  b.Key(kVkUp);
  EXPECT_EQ(b.state.remCount, 6);
}

TEST(MainWindowTest, LightLevelAndRangeKeys) {
  struct Case {
    std::vector<std::string> words;
    uint32_t key;
    int32_t levelAfter, rangeAfter;
  };
  for (const Case& c : std::vector<Case>{
           {{"!7"}, kVkUp, 8, 2},    // 8 stays 8
           {{"!6"}, kVkUp, 8, 2},    // 7 -> 8
           {{"!"}, kVkDown, 1, 2},   // 1 stays 1
           {{"!2"}, kVkDown, 2, 2},  // 3 -> 2
           {{}, kVkUp, 0, 2},        // no light level: unchanged
           {{}, kVkLeft, 0, 3},
           {{"d"}, kVkLeft, 0, 3},   // 3 stays 3
           {{"e"}, kVkLeft, 0, 4},   // 4 stays 4
           {{"a"}, kVkRight, 0, 0},  // 0 stays 0
           {{"e"}, kVkRight, 0, 3},
       }) {
    AppBench b(c.words);
    ASSERT_TRUE(b.Create());
    b.state.healingMode = 0;  // no plan edit in the way
    b.Key(c.key);
    EXPECT_EQ(b.state.lightLevel, c.levelAfter) << (c.words.empty() ? "-" : c.words[0]);
    EXPECT_EQ(b.state.dutyRange, c.rangeAfter) << (c.words.empty() ? "-" : c.words[0]);
    EXPECT_EQ(b.host.invalidations, 1);
    EXPECT_EQ(b.state.repaintFlags[kRepaintPowerRow], 1);
  }
  // The envelope follows the new light level: (9 - level) * 8.
  AppBench b({"!2"});
  ASSERT_TRUE(b.Create());
  b.Key(kVkDown);  // level 3 -> 2: 56
  EXPECT_EQ(b.state.envelope[127], 55);
}

TEST(MainWindowTest, PaintMessagePaints) {
  AppBench b;
  ASSERT_TRUE(b.Create());
  b.PlanBuiltAndPainted();
  b.state.repaintFlags[kRepaintSleepRow] = 1;
  b.Send(WindowEvent::kPaint);
  EXPECT_EQ(b.canvas.Paints(), 1);
  EXPECT_EQ(b.state.repaintFlags[kRepaintSleepRow], 0);
}

}  // namespace
}  // namespace velmora
