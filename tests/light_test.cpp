// Light mode: the light thread's modulation and light-mode programmes on the
// sim platform.
#include <gtest/gtest.h>

#include <initializer_list>
#include <thread>

#include "app/main_window.h"
#include "fake_services.h"
#include "generator/generator.h"
#include "output/light_output.h"
#include "platform/sim/recording_port.h"
#include "sim_night.h"

namespace velmora {
namespace {

using testing::CallLog;

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
