// The generator on the sim platform: the programme's steps, cycle starts and
// end; stopping by Enter; the load test; the healing pattern.
#include "generator/generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

#include "generator/healing_pattern.h"
#include "generator/stage_label.h"
#include "plan/night_plan.h"
#include "sim_night.h"

namespace velmora {
namespace {

using testing::k2320Utc;
using testing::NightRecorder;
using testing::ReadWords;
using testing::StepRecord;

// Runs the default night (m1, started at once) until its programme ends.
struct DefaultNight {
  SharedState state;
  SimClock clock{k2320Utc};
  SimSoundRun run{state, clock};
  NightRecorder recorder{run};

  explicit DefaultNight(const std::vector<std::string>& words = {"m1", "."}) {
    ReadWords(state, words);
    run.generator.observer = &recorder;
    recorder.onProgrammeEnd = [](NightRecorder& r) { r.run.generator.RequestStop(); };
  }
  void Run() { run.Run(); }
};

TEST(ProgrammeTest, FirstStepsCycleStartsAndEnd) {
  DefaultNight night;
  night.recorder.keep = {1, 2, 184, 185, 2117, 2118, 2343};
  StepRecord last{};
  night.recorder.onStep = [&last](NightRecorder&, const StepRecord& r) {
    if (r.phase == Phase::kSleepProgramme) last = r;
  };
  night.Run();
  const auto& r = night.recorder;
  ASSERT_EQ(r.programmeEnds.size(), 1u);

  const StepRecord* s1 = r.Find(Phase::kSleepProgramme, 1);
  const StepRecord* s2 = r.Find(Phase::kSleepProgramme, 2);
  const StepRecord* s184 = r.Find(Phase::kSleepProgramme, 184);
  const StepRecord* s185 = r.Find(Phase::kSleepProgramme, 185);
  const StepRecord* s2118 = r.Find(Phase::kSleepProgramme, 2118);
  ASSERT_TRUE(s1 && s2 && s184 && s185 && s2118);
  const int64_t start = r.phaseStarts.back().second;
  ASSERT_EQ(r.phaseStarts.back().first, Phase::kSleepProgramme);

  struct Expect {
    const StepRecord* step;
    int32_t stepValue, stepPeriod, halfPeriod, gapLead, floorValue, cycleIndex;
    float currentHz;
    const char* label;
  };
  for (const Expect& e : std::initializer_list<Expect>{
           {s1, 450, 68, 888, 0, 25, 1, 9.0f, "NREM1 Alpha"},
           {s2, 447, 68, 894, 888, 25, 1, 8.94f, "NREM1 Alpha"},
           {s185, 1067, 88, 374, 33332, 27, 2, 21.34f, "  REM Beta"},
       }) {
    EXPECT_EQ(e.step->stepValue, e.stepValue) << e.step->number;
    EXPECT_EQ(e.step->stepPeriod, e.stepPeriod) << e.step->number;
    EXPECT_EQ(e.step->halfPeriod, e.halfPeriod) << e.step->number;
    EXPECT_EQ(e.step->gapLead, e.gapLead) << e.step->number;
    EXPECT_EQ(e.step->floorValue, e.floorValue) << e.step->number;
    EXPECT_EQ(e.step->cycleIndex, e.cycleIndex) << e.step->number;
    EXPECT_FLOAT_EQ(e.step->currentHz, e.currentHz) << e.step->number;
    EXPECT_EQ(e.step->label, e.label) << e.step->number;
  }
  EXPECT_NEAR(s1->burstRateHz, 0.1325f, 0.00005f);
  EXPECT_EQ(s1->dutyOffset, ((888 * 2) >> 2) + 1);
  // Step 1's gap: 68 pieces of 888 samples.
  EXPECT_EQ(s1->position - start, 60384);
  // The first cycle start comes from the rate value 24 at step 184's floor.
  EXPECT_EQ(s184->stepValue, 24);
  // Its gap: 88 pieces of 33332 + 374 samples, about 92.7 seconds.
  const int64_t step185Gap =
      s185->position - s184->position - 2 * int64_t{s184->halfPeriod} * s184->stepPeriod;
  EXPECT_EQ(step185Gap, 2966128);
  EXPECT_EQ(s2118->cycleIndex, 7);
  EXPECT_NEAR(s2118->currentHz, 40.42f, 0.005f);
  EXPECT_EQ(r.programmeSteps, 2343);  // step 2344 ends the programme
  // During the last descent the label of the step before the last cycle start stays.
  EXPECT_EQ(last.label, r.Find(Phase::kSleepProgramme, 2117)->label);
  EXPECT_NEAR(night.state.currentHz, 12.96f, 0.005f);
  const double minutes = static_cast<double>(r.programmeEnds[0] - start) / (60.0 * 32000);
  EXPECT_NEAR(minutes, 467.9, 0.05);
}

TEST(ProgrammeTest, EndStepsSilenceTheRingAndGoBackToHealing) {
  DefaultNight night({"m1", ".", "r2", "+0"});
  bool checked = false;
  night.recorder.onProgrammeEnd = nullptr;
  night.recorder.onPhase = [&](NightRecorder& r, Phase phase, int64_t) {
    if (phase != Phase::kHealing || r.programmeEnds.empty()) return;
    const RingStorage& ring = *r.run.generator.ring;
    int64_t loud = 0;
    for (int64_t i = 0; i < ring.ringBytes; ++i) loud += ring.Sample(i) != 128;
    EXPECT_EQ(loud, 0);
    EXPECT_EQ(r.run.state.healingMode, 1);
    EXPECT_EQ(r.run.state.sleepRunning, 0);
    const std::string text = r.run.state.stateText.Get();
    EXPECT_EQ(text.substr(5), " is finished.Now healing.");
    EXPECT_EQ(text, FinishText(r.run.clock, r.run.state.nowTime));
    checked = true;
    r.run.generator.RequestStop();
  };
  night.Run();
  EXPECT_TRUE(checked);
  // Two full descents and the last one from cycle 3.
  EXPECT_EQ(night.state.cycleIndex, 3);
}

TEST(ProgrammeTest, EnterDuringAProgrammeStopsAfterThePresentPulse) {
  DefaultNight night;
  int64_t pulsesAtEnter = -1;
  night.recorder.onStep = [&](NightRecorder& r, const StepRecord& s) {
    if (s.phase == Phase::kSleepProgramme && s.number == 10) {
      r.run.state.sleepRunning = 0;  // Enter while the programme runs
      pulsesAtEnter = r.pulses;
    }
  };
  night.Run();
  const auto& r = night.recorder;
  ASSERT_EQ(r.programmeEnds.size(), 1u);
  EXPECT_EQ(r.pulses, pulsesAtEnter + 1);  // the step's first pulse, then the end
  EXPECT_EQ(r.programmeSteps, 10);
  EXPECT_EQ(night.state.healingMode, 1);
  // Ten steps of about 5.7 s after the start pauses: a minute past 23:20.
  EXPECT_EQ(night.state.stateText.Get(), "23:21 is finished.Now healing.");
}

TEST(ProgrammeTest, EnterDuringTheStartPauseEndsWithoutAStep) {
  DefaultNight night;
  night.recorder.onPhase = [](NightRecorder& r, Phase phase, int64_t) {
    if (phase == Phase::kHealing) {
      // Fires inside the programme's 1010 ms start pause.
      r.run.clock.At(r.run.clock.NowMs() + 500, [&r] { r.run.state.sleepRunning = 0; });
    }
  };
  night.Run();
  const auto& r = night.recorder;
  ASSERT_EQ(r.programmeEnds.size(), 1u);
  EXPECT_EQ(r.programmeSteps, 0);
  EXPECT_EQ(r.pulses, 0);
  // The finish text is built from the last clock reading of a step: none yet.
  EXPECT_EQ(night.state.stateText.Get(), "00:00 is finished.Now healing.");
}

TEST(ProgrammeTest, LoadTestBoundary) {
  struct Case {
    int32_t elapsed;
    int64_t positionMs;
    bool behind;
  };
  for (const Case& c : std::initializer_list<Case>{
           {100, 99000, false},
           {101, 99000, true},
           {0, 0, false},
           {1, 0, true},
           {1, 989, true},
           {1, 990, false},
       }) {
    EXPECT_EQ(FallenBehind(1000 + c.elapsed, 1000, c.positionMs << 5), c.behind)
        << c.elapsed << " s at " << c.positionMs << " ms";
  }
}

TEST(ProgrammeTest, OverloadStopsWithTheWarning) {
  DefaultNight night;
  int32_t startTimeBefore = 0;
  night.recorder.onPhase = [&](NightRecorder& r, Phase phase, int64_t) {
    if (phase == Phase::kSleepProgramme) {
      // As if the machine had stalled for minutes before the first step.
      r.run.state.startTime = r.run.clock.NowSeconds() - 300;
      startTimeBefore = r.run.state.startTime;
    }
  };
  night.Run();
  const auto& r = night.recorder;
  ASSERT_EQ(r.programmeEnds.size(), 1u);
  EXPECT_EQ(r.programmeSteps, 1);
  EXPECT_EQ(r.pulses, 1);  // the step still emits its first pulse
  EXPECT_EQ(night.state.repaintFlags[kRepaintWarning], 1);
  EXPECT_EQ(night.state.startTime, startTimeBefore + 1);
  EXPECT_EQ(night.state.stateText.Get(), FinishText(night.clock, night.state.nowTime));
}

TEST(ProgrammeTest, LightModeHasNoLoadTestAndPlaysThePlanOnThePort) {
  SharedState state;
  SimClock clock(k2320Utc);
  ReadWords(state, {"m1", ".", "r2", "+0", "!-1"});  // light mode without a light level
  RecordingPort port(clock);
  Generator g(state, clock, port);
  struct Stop : GeneratorObserver {
    Generator* g;
    int64_t steps = 0;
    void OnStepStart(Phase phase, int64_t n) override {
      if (phase == Phase::kSleepProgramme) steps = n;
    }
    void OnProgrammeEnd(int64_t) override { g->RequestStop(); }
  } stop;
  stop.g = &g;
  g.observer = &stop;
  GeneratorThread(g);
  EXPECT_NE(state.stateText.Get(), "CPU task is heavy!");
  EXPECT_EQ(state.repaintFlags[kRepaintWarning], 0);
  EXPECT_GT(stop.steps, 500);
  // Every pulse is an on write of the pattern then an off write, 2 per pulse.
  const auto& writes = port.Records();
  ASSERT_GT(writes.size(), 1000u);
  for (size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].port, 0x378);
    EXPECT_EQ(writes[i].value, i % 2 == 0 ? 255 : 0) << i;
  }
  // The port's time follows the programme's position within the sleeps' truncation.
  const double playedMinutes =
      static_cast<double>(writes.back().timeMs - writes.front().timeMs) / 60000;
  const double positionMinutes = static_cast<double>(state.samplePos.Load()) / (32000.0 * 60);
  EXPECT_NEAR(playedMinutes, positionMinutes, positionMinutes * 0.03);
}

TEST(HealingTest, StepValues) {
  struct Case {
    int32_t step, stepValue, stepPeriod, halfPeriod;
    float stretch;
  };
  for (const Case& c : std::initializer_list<Case>{
           {0, 2390, 120, 167, 1.5f},
           {1, 2064, 111, 193, 1.5f + 1.0f / 68},
           {8, 433, 63, 923, 1.5f + 8.0f / 68},
           {9, 2336, 0, 0, 1.5f + 9.0f / 68},
           {53, 373, 66, 1072, 2.279412f},
       }) {
    const HealingStepValues v = HealingStep(c.step, 50, 3200000, 1, 7, 6);
    EXPECT_EQ(v.stepValue, c.stepValue) << c.step;
    EXPECT_NEAR(v.stretch, c.stretch, 1e-6) << c.step;
    if (c.stepPeriod != 0) {
      EXPECT_EQ(v.stepPeriod, c.stepPeriod) << c.step;
      EXPECT_EQ(v.halfPeriod, c.halfPeriod) << c.step;
    }
  }
  EXPECT_FLOAT_EQ(CurrentHz(2390, 50), 47.8f);
  EXPECT_FLOAT_EQ(CurrentHz(433, 50), 8.66f);
  EXPECT_FLOAT_EQ(CurrentHz(2336, 50), 46.72f);
  EXPECT_FLOAT_EQ(CurrentHz(373, 50), 7.46f);
}

TEST(HealingTest, RatesStayInTheirRangeForEverySetting) {
  float lowHz = 1e9f, highHz = 0;
  int32_t lowHalf = 1 << 30, highHalf = 0;
  for (int32_t r = 2; r <= 7; ++r) {
    for (int32_t t = 0; t <= 6; ++t) {
      for (int32_t m = 1; m <= 8; ++m) {
        const int32_t cu = CycleUnitFor(t, m);
        for (int32_t s = 0; s < kHealingSteps; ++s) {
          const HealingStepValues v = HealingStep(s, cu, CycleTicksFor(cu, 5), m, r + 1, r);
          lowHz = std::min(lowHz, CurrentHz(v.stepValue, cu));
          highHz = std::max(highHz, CurrentHz(v.stepValue, cu));
          lowHalf = std::min(lowHalf, v.halfPeriod);
          highHalf = std::max(highHalf, v.halfPeriod);
        }
      }
    }
  }
  EXPECT_NEAR(lowHz, 7.44f, 0.005f);
  EXPECT_NEAR(highHz, 47.80f, 0.005f);
  EXPECT_EQ(lowHalf, 167);
  EXPECT_EQ(highHalf, 1074);
}

TEST(HealingTest, FirstStepsOnTheSimPlatform) {
  SharedState state;
  SimClock clock(k2320Utc);
  ReadWords(state, {"m1"});
  SimSoundRun run(state, clock);
  NightRecorder recorder(run);
  recorder.keep = {1, 2, 55};
  recorder.onStep = [](NightRecorder& r, const StepRecord& s) {
    if (s.number == 55) r.run.generator.RequestStop();
  };
  run.generator.observer = &recorder;
  run.Run();
  const int64_t start = recorder.phaseStarts.at(0).second;
  const StepRecord* s1 = recorder.Find(Phase::kHealing, 1);
  const StepRecord* s2 = recorder.Find(Phase::kHealing, 2);
  const StepRecord* s55 = recorder.Find(Phase::kHealing, 55);
  ASSERT_TRUE(s1 && s2 && s55);
  EXPECT_EQ(s1->stepValue, 2390);
  EXPECT_EQ(s1->dutyOffset, 125);
  EXPECT_NEAR(s1->burstRateHz, 0.3992f, 0.00005f);
  EXPECT_EQ(s1->position - start, 20040);
  EXPECT_EQ(s1->label, "HealingGamma");
  EXPECT_EQ(s2->gapLead, 167);
  EXPECT_EQ(s2->stepValue, 2064);
  EXPECT_EQ(s55->stepValue, 2390);  // the pattern starts over
  // Before any programme the start time follows the clock at every step.
  EXPECT_EQ(state.startTime, clock.NowSeconds());
  EXPECT_EQ(state.samplePos, 0);
  // One pass of the pattern lasts about 4.3 minutes.
  EXPECT_NEAR(static_cast<double>(s55->position - s1->position) / (32000.0 * 60), 4.3, 0.1);
}

TEST(StageLabelTest, Boundaries) {
  struct Case {
    float hz;
    const char* label;
  };
  for (const Case& c : std::initializer_list<Case>{
           {47.8f, "NREM4 Delta"},
           {24.0f, "NREM4 Delta"},
           {23.99f, "  REM Beta"},
           {13.0f, "  REM Beta"},
           {12.96f, "NREM1 Alpha"},
           {8.0f, "NREM1 Alpha"},
           {7.99f, "NREM2 Theta"},
           {4.0f, "NREM2 Theta"},
           {3.99f, "NREM3 Delta"},
           {0.5f, "NREM3 Delta"},
       }) {
    EXPECT_STREQ(StageLabel(c.hz), c.label) << c.hz;
  }
}

}  // namespace
}  // namespace velmora
