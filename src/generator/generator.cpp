#include "generator/generator.h"

#include "generator/envelope.h"
#include "generator/healing_pattern.h"
#include "generator/stage_label.h"
#include "generator/writers.h"
#include "plan/night_plan.h"
#include "plan/step_rules.h"

namespace velmora {
namespace {

constexpr int32_t kHealingStartPauseMs = 1000;
constexpr int32_t kPhaseStartPauseMs = 1010;
// The programme ends in its last descent once the rate falls below this.
constexpr float kLastDescentEndHz = 13.0f;
constexpr const char* kHealingLabel = "HealingGamma";

void RaiseFlags(SharedState& s, int first, int last) {
  for (int flag = first; flag <= last; ++flag) s.repaintFlags[flag] = 1;
}

// The rate figures of the STATE row for the present step.
void SetRateFigures(Generator& g, int32_t stepValue, int32_t cycleUnit) {
  SharedState& s = g.state;
  const int32_t stepPeriod = s.stepPeriod;
  s.burstRateHz = static_cast<float>(static_cast<long double>(kSampleRate) /
                                     ((stepPeriod * g.halfPeriod) << 2));
  s.currentHz = CurrentHz(stepValue, cycleUnit);
}

// A healing step start; returns false when the phase is to end.
bool HealingStepStart(Generator& g) {
  SharedState& s = g.state;
  g.pulseIndex = 0;
  const int32_t step = s.healingStep;
  const int32_t cycleUnit = s.cycleUnit;
  const HealingStepValues v =
      HealingStep(step, cycleUnit, s.cycleTicks, s.moonFactor, s.cycleIndex, s.remCount);
  s.stretch = v.stretch;
  s.healingStep = step + 1 == kHealingSteps ? 0 : step + 1;
  s.stepValue = v.stepValue;
  g.gapLead = g.halfPeriod;
  s.stepPeriod = v.stepPeriod;
  g.halfPeriod = v.halfPeriod;

  const int32_t gapSamples = (g.gapLead + g.halfPeriod) * v.stepPeriod;
  if (s.soundMode == 1) {
    WaitForPlayback(g, g.healingPos);
    // One fill silences the gap and the whole region of the step's pulses.
    FillSilence(g, g.healingPos, (3 * g.halfPeriod + g.gapLead) * v.stepPeriod);
    g.healingPos += gapSamples;
  } else {
    g.clock.Sleep(gapSamples >> kRateShift);
  }
  g.dutyOffset = (3 * g.halfPeriod) >> 2;
  SetRateFigures(g, v.stepValue, cycleUnit);
  if (s.sleepRunning == 1 || s.healingMode == 0) {
    s.stateText.Set(kHealingLabel);
    s.repaintFlags[kRepaintTimerRow] = 1;
    s.startTime = g.clock.NowSeconds();
    g.asleepCountedMs = g.clock.AsleepMs();
  }
  s.repaintFlags[kRepaintStateRow] = 1;
  ++g.stepNumber;
  if (g.observer) g.observer->OnStepStart(Phase::kHealing, g.stepNumber);
  return s.healingMode != 0;
}

// A suspended computer plays nothing, and its wall clock runs on meanwhile:
// startTime moves on by the whole seconds spent asleep, so the night pauses
// instead of failing the load test.
void CountTimeAsleep(Generator& g) {
  const int64_t seconds = (g.clock.AsleepMs() - g.asleepCountedMs) / 1000;
  if (seconds <= 0) return;
  g.asleepCountedMs += seconds * 1000;
  g.state.startTime = g.state.startTime + static_cast<int32_t>(seconds);
  g.state.repaintFlags[kRepaintTimerRow] = 1;
}

enum class StepOutcome { kPulses, kProgrammeOver };

StepOutcome ProgrammeStepStart(Generator& g) {
  SharedState& s = g.state;
  const int32_t cycleUnit = s.cycleUnit;
  const int32_t cycleTicks = s.cycleTicks;
  const int32_t moonFactor = s.moonFactor;
  const int32_t remCount = s.remCount;
  const float stretch = s.stretch;
  const bool soundMode = s.soundMode == 1;
  g.pulseIndex = 0;
  if (!soundMode) {
    // In light mode the pulses do not move the position; the step's time is
    // added here, from the values of the step just finished.
    s.samplePos = s.samplePos + 2 * static_cast<int64_t>(g.halfPeriod) * s.stepPeriod;
  }

  int32_t stepValue = s.stepValue;
  int32_t cycleIndex = s.cycleIndex;
  bool cycleStart = false;
  int32_t riseGap = 0;
  if (stepValue > g.floorValue) {
    stepValue = Descend(stepValue, moonFactor);
  } else {
    if (cycleIndex == 0) {
      stepValue = 9 * cycleUnit;
      s.repaintFlags[kRepaintTimerRow] = 1;
    } else {
      riseGap = 2 * HalfPeriodFor(cycleTicks, stepValue);
      const RiseResult rise =
          RiseSearch(riseGap, cycleUnit, cycleTicks, stretch, moonFactor, cycleIndex, remCount);
      stepValue = rise.stepValue;
      s.stepPeriod = rise.stepPeriod;
      cycleStart = true;
    }
    g.floorValue = CycleFloor(cycleUnit, cycleIndex, remCount);
    s.cycleIndex = ++cycleIndex;
  }
  s.stepValue = stepValue;
  g.gapLead = cycleStart ? riseGap : g.halfPeriod;
  const int32_t stepPeriod =
      StepLength(stepValue, stretch, cycleUnit, moonFactor, cycleIndex, remCount);
  s.stepPeriod = stepPeriod;
  g.halfPeriod = HalfPeriodFor(cycleTicks, stepValue);
  ++g.stepNumber;

  const int32_t piece = g.gapLead + g.halfPeriod;
  if (soundMode) {
    int64_t position = s.samplePos;
    for (int32_t i = 0; i < stepPeriod; ++i) {
      FillSilence(g, position, piece);
      position += piece;
      s.samplePos = position;
      WaitForPlayback(g, position);
    }
    // Pulses get quieter as the rate rises; the tone keeps the programme's level.
    if (s.toneMode == 0) BuildEnvelope(s, 64 - ((stepValue / cycleUnit) >> 2));
  } else {
    g.clock.Sleep((piece >> kRateShift) * stepPeriod);
    s.samplePos = s.samplePos + static_cast<int64_t>(piece) * stepPeriod;
  }
  g.dutyOffset = ((g.halfPeriod * s.dutyRange) >> 2) + 1;
  SetRateFigures(g, stepValue, cycleUnit);

  if (cycleIndex <= remCount) {
    s.stateText.Set(StageLabel(s.currentHz));
  } else if (s.currentHz < kLastDescentEndHz) {
    return StepOutcome::kProgrammeOver;
  }
  CountTimeAsleep(g);
  const int32_t now = g.clock.NowSeconds();
  s.nowTime = now;
  // The load test: in sound mode the ring must keep up with the wall clock.
  // Light mode has no buffer to run dry; its timing simply follows the sleeps,
  // so it has no load test.
  if (soundMode && FallenBehind(now, s.startTime, s.samplePos)) {
    s.stateText.Set(kOverloadLabel);
    s.sleepRunning = 0;
    s.repaintFlags[kRepaintWarning] = 1;
    s.repaintFlags[kRepaintStateRow] = 1;
    s.startTime = s.startTime + 1;
  }
  s.repaintFlags[kRepaintStateRow] = 1;
  if (g.observer) g.observer->OnStepStart(Phase::kSleepProgramme, g.stepNumber);
  return StepOutcome::kPulses;
}

void ProgrammeEndSteps(Generator& g) {
  SharedState& s = g.state;
  if (g.observer) g.observer->OnProgrammeEnd(s.samplePos);
  // The whole ring, the blocks the device holds included: the output falls
  // silent at once.
  if (g.ring) g.ring->Fill(0, g.ring->ringBytes, kSilence);
  s.stateText.Set(FinishText(g.clock, s.nowTime));
  s.sleepRunning = 0;
  s.healingMode = 1;
}

}  // namespace

bool FallenBehind(int32_t nowTime, int32_t startTime, int64_t samplePos) {
  return nowTime - startTime > (samplePos >> kRateShift) / 990;
}

std::string FinishText(Clock& clock, int32_t seconds) {
  return clock.LocalHourMinute(seconds) + " is finished.Now healing.";
}

void RunHealingPhase(Generator& g) {
  SharedState& s = g.state;
  s.cycleIndex = s.remCount + 1;
  g.clock.Sleep(kHealingStartPauseMs);
  BuildEnvelope(s, 64);
  g.pulseIndex = 0;
  g.floorValue = 0;
  s.stepPeriod = 0;
  s.stepValue = 0;
  g.toneSampleCount = 0;
  s.samplePos = 0;
  s.healingStep = 0;
  g.halfPeriod = 0;
  g.dutyOffset = 0;
  g.stepNumber = 0;
  s.blocksQueued.FetchAnd(kRingBlockMask);
  g.clock.Sleep(kPhaseStartPauseMs);
  g.healingPos = s.playedMs.Load() << kRateShift;
  if (g.observer) g.observer->OnPhaseStart(Phase::kHealing, g.healingPos);

  while (!g.Stopping()) {
    if (++g.pulseIndex >= s.stepPeriod && !HealingStepStart(g)) return;
    EmitPulse(g, Phase::kHealing);
  }
}

void RunSleepProgramme(Generator& g) {
  SharedState& s = g.state;
  BuildEnvelope(s, LightEnvelopeLevel(s.lightLevel));
  g.pulseIndex = 0;
  g.floorValue = 0;
  s.stepPeriod = 0;
  s.stepValue = 0;
  s.cycleIndex = 0;
  g.halfPeriod = 0;
  g.stepNumber = 0;
  s.sleepRunning = 1;
  s.blocksQueued.FetchAnd(kRingBlockMask);
  g.clock.Sleep(kPhaseStartPauseMs);
  s.samplePos = s.playedMs.Load() << kRateShift;
  RaiseFlags(s, kRepaintChart, kRepaintHelpRows);
  s.stretch = StretchFor(s.moonFactor);
  if (g.observer) g.observer->OnPhaseStart(Phase::kSleepProgramme, s.samplePos);

  while (s.sleepRunning == 1 && !g.Stopping()) {
    if (++g.pulseIndex >= s.stepPeriod && ProgrammeStepStart(g) == StepOutcome::kProgrammeOver) {
      break;
    }
    EmitPulse(g, Phase::kSleepProgramme);
  }
  if (g.Stopping()) return;
  ProgrammeEndSteps(g);
}

void GeneratorThread(Generator& g) {
  SharedState& s = g.state;
  if (g.threads) g.threads->SetCurrentThreadPriority(ThreadPriority::kHighest);
  g.asleepCountedMs = g.clock.AsleepMs();
  for (auto& flag : s.repaintFlags) flag = 0;
  BuildNightPlan(s);
  while (!g.Stopping()) {
    RunHealingPhase(g);
    if (g.Stopping()) break;
    RunSleepProgramme(g);
  }
}

}  // namespace velmora
