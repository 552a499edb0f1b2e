// The generator's turns between healing and the programme, pinned step by
// step on the sim platform: Enter during healing, the word ".", healing after
// a programme, the healing fill's length, and light mode's gaps.
#include <gtest/gtest.h>

#include <vector>

#include "generator/generator.h"
#include "sim_night.h"

namespace velmora {
namespace {

using testing::k2320Utc;
using testing::NightRecorder;
using testing::ReadWords;
using testing::StepRecord;

constexpr uint8_t kStale = 0x55;  // what a ring held before the night

struct Night {
  SharedState state;
  SimClock clock{k2320Utc};
  SimSoundRun run{state, clock};
  NightRecorder recorder{run};

  explicit Night(const std::vector<std::string>& words) {
    ReadWords(state, words);
    run.generator.observer = &recorder;
  }
};

// Pulses of the healing phase between its last step start and the programme.
struct PulseCounter : NightRecorder {
  using NightRecorder::NightRecorder;
  int64_t sinceStep = 0;
  int64_t atProgramme = -1;  // pulses since the last step at the latest programme start
  void OnStepStart(Phase phase, int64_t number) override {
    sinceStep = 0;
    NightRecorder::OnStepStart(phase, number);
  }
  void OnPulse() override {
    ++sinceStep;
    NightRecorder::OnPulse();
  }
  void OnPhaseStart(Phase phase, int64_t position) override {
    if (phase == Phase::kSleepProgramme) atProgramme = sinceStep;
    NightRecorder::OnPhaseStart(phase, position);
  }
};

TEST(HealingToProgrammeTest, EnterDuringAHealingStepAndTheDotWord) {
  struct Case {
    const char* name;
    std::vector<std::string> words;
    int healingPhase;     // which healing phase, from 1
    int64_t enterAtStep;  // 0: never pressed (the word "." already said it)
    int64_t lastHealingStep;
  };
  for (const Case& c :
       {Case{"enter in step 3", {"m1"}, 1, 3, 4}, Case{"the word .", {"m1", "."}, 1, 0, 1},
        Case{"enter after a programme", {"m1", ".", "r2", "+0"}, 2, 3, 4}}) {
    SCOPED_TRACE(c.name);
    SharedState state;
    SimClock clock(k2320Utc);
    ReadWords(state, c.words);
    SimSoundRun run(state, clock);
    PulseCounter recorder(run);
    run.generator.observer = &recorder;
    int64_t fillPosition = -1, fillCount = 0;
    recorder.onWrite = [&](int64_t position, int32_t count) {
      fillPosition = position;
      fillCount = count;
    };
    int healingPhases = 0;
    recorder.onPhase = [&](NightRecorder&, Phase phase, int64_t) {
      healingPhases += phase == Phase::kHealing;
    };
    int64_t healingSteps = 0, expectedFill = 0;
    int32_t startTimeAtLastStep = -1;
    bool programmeAfter = false;
    recorder.onStep = [&](NightRecorder& r, const StepRecord& s) {
      if (healingPhases != c.healingPhase) return;
      if (s.phase != Phase::kHealing) {
        programmeAfter = true;
        r.run.generator.RequestStop();
        return;
      }
      healingSteps = s.number;
      if (s.number == c.enterAtStep) {
        // Enter, as the window does it, while the step's pulses play.
        r.run.clock.At(r.run.clock.NowMs() + 200, [&r] { r.run.state.healingMode = 0; });
      }
      if (s.number == c.lastHealingStep) {
        startTimeAtLastStep = r.run.state.startTime;
        EXPECT_EQ(startTimeAtLastStep, r.run.clock.NowSeconds());
        EXPECT_EQ(s.label, "HealingGamma");
        // The step's one fill, from where the pulses before it ended.
        expectedFill = (3 * s.halfPeriod + s.gapLead) * s.stepPeriod;
        EXPECT_EQ(fillCount, expectedFill);
        EXPECT_EQ(fillPosition, s.position - (s.gapLead + s.halfPeriod) * s.stepPeriod);
      }
    };
    run.Run();
    // The last healing step starts (its fill written, label and start time
    // renewed), plays none of its pulses, and the programme follows.
    EXPECT_TRUE(programmeAfter);
    EXPECT_EQ(healingSteps, c.lastHealingStep);
    EXPECT_EQ(recorder.atProgramme, 0);
    EXPECT_GT(expectedFill, 0);
    EXPECT_GE(startTimeAtLastStep, k2320Utc);
  }
}

TEST(HealingToProgrammeTest, HealingAfterTheProgrammeKeepsTheFinishTextAndStartTime) {
  Night night({"m1", ".", "r2", "+0"});
  std::string finish;
  int32_t startTime = 0;
  int64_t healingStepsAfter = 0;
  night.recorder.onProgrammeEnd = [&](NightRecorder& r) {
    // The end steps have not run yet: take the values once healing begins.
    r.onPhase = [&](NightRecorder& rr, Phase phase, int64_t) {
      if (phase != Phase::kHealing) return;
      finish = rr.run.state.stateText.Get();
      startTime = rr.run.state.startTime;
    };
  };
  night.recorder.onStep = [&](NightRecorder& r, const StepRecord& s) {
    if (finish.empty() || s.phase != Phase::kHealing) return;
    EXPECT_EQ(s.label, finish) << s.number;
    EXPECT_EQ(r.run.state.startTime, startTime) << s.number;
    if (++healingStepsAfter == 30) r.run.generator.RequestStop();
  };
  night.run.Run();
  EXPECT_EQ(healingStepsAfter, 30);
  EXPECT_EQ(finish.substr(5), " is finished.Now healing.");
  // Thirty steps are minutes: a start time that followed the clock would differ.
  EXPECT_LT(startTime + 60, night.clock.NowSeconds());
}

TEST(HealingToProgrammeTest, TheHealingFillCoversTheGapAndThePulsesExactly) {
  Night night({"m1"});
  int64_t checked = 0;
  int64_t stepStartPos = 0, phaseStart = 0;
  night.recorder.onPhase = [&](NightRecorder& r, Phase phase, int64_t position) {
    if (phase != Phase::kHealing) return;
    r.run.generator.ring->Fill(0, r.run.generator.ring->ringBytes, kStale);
    stepStartPos = phaseStart = position;
  };
  night.recorder.onStep = [&](NightRecorder& r, const StepRecord& s) {
    const RingStorage& ring = *r.run.generator.ring;
    // The step start filled from where the last step's pulses ended; nothing
    // beyond the step's own gap and pulses has been written yet.
    const int64_t fill = (3 * s.halfPeriod + s.gapLead) * s.stepPeriod;
    int64_t silent = 0;
    for (int64_t i = 0; i < fill; ++i)
      silent += ring.Sample((stepStartPos + i) % ring.ringBytes) == kSilence;
    EXPECT_EQ(silent, fill) << "step " << s.number;
    EXPECT_EQ(ring.Sample((stepStartPos + fill) % ring.ringBytes), kStale) << "step " << s.number;
    EXPECT_EQ(s.position, stepStartPos + (s.gapLead + s.halfPeriod) * s.stepPeriod);
    // The pulses that follow end where the next step starts.
    stepStartPos = s.position + 2 * s.halfPeriod * s.stepPeriod;
    ++checked;
    // Stop before the writes come round the ring to its older laps.
    if (stepStartPos + 2 * fill >= phaseStart + ring.ringBytes) r.run.generator.RequestStop();
  };
  night.run.Run();
  EXPECT_GE(checked, 3);
}

// Light mode sleeps a step's gap instead of writing it. Healing sleeps the
// product shifted, (gapLead + halfPeriod) * stepPeriod >> 5; the programme
// shifts each piece first, ((gapLead + halfPeriod) >> 5) * stepPeriod.
TEST(LightGapTest, HealingShiftsTheProductTheProgrammeEachPiece) {
  SharedState state;
  SimClock clock(k2320Utc);
  ReadWords(state, {"m1", "!-1"});  // light mode without a level: port pulses
  RecordingPort port(clock);
  Generator g(state, clock, port);
  struct Timing : GeneratorObserver {
    Generator* g;
    SimClock* clock;
    int64_t lastPulseMs = -1;
    int32_t lastHalf = 0;
    int64_t healingChecked = 0, programmeChecked = 0, differing = 0;
    void OnPhaseStart(Phase, int64_t) override { lastPulseMs = -1; }
    void OnPulse() override {
      lastPulseMs = clock->NowMs();
      lastHalf = g->halfPeriod;
    }
    void OnStepStart(Phase phase, int64_t n) override {
      const int32_t piece = g->gapLead + g->halfPeriod;
      const int32_t period = g->state.stepPeriod;
      if (lastPulseMs >= 0 && n > 1) {
        // The last pulse of the step before lasted its half period >> 4.
        const int64_t gap = clock->NowMs() - lastPulseMs - (lastHalf >> 4);
        const int64_t product = (static_cast<int64_t>(piece) * period) >> 5;
        const int64_t perPiece = static_cast<int64_t>(piece >> 5) * period;
        differing += product != perPiece;
        if (phase == Phase::kHealing) {
          EXPECT_EQ(gap, product) << "healing step " << n;
          ++healingChecked;
        } else {
          EXPECT_EQ(gap, perPiece) << "programme step " << n;
          ++programmeChecked;
        }
      }
      if (phase == Phase::kHealing && n == 8) g->state.healingMode = 0;  // Enter
      if (phase == Phase::kSleepProgramme && n == 40) g->RequestStop();
    }
  } timing;
  timing.g = &g;
  timing.clock = &clock;
  g.observer = &timing;
  GeneratorThread(g);
  EXPECT_EQ(timing.healingChecked, 7);
  EXPECT_GT(timing.programmeChecked, 30);
  // The two rules must give different sleeps somewhere, or this pins nothing.
  EXPECT_GT(timing.differing, 0);
}

}  // namespace
}  // namespace velmora
