// A sound-mode night on the sim platform with a recording observer, for the
// generator tests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/sim_sound_run.h"

namespace velmora::testing {

inline constexpr int32_t k2320Utc = 84000;  // 1970-01-01 23:20 UTC, local time in the sim

// What one step start left behind.
struct StepRecord {
  Phase phase;
  int64_t number;
  int32_t stepValue, stepPeriod, halfPeriod, gapLead, dutyOffset, floorValue, cycleIndex;
  float currentHz, burstRateHz;
  std::string label;
  int64_t position;  // samplePos (programme) or healingPos (healing) after the gap
  int64_t timeMs;
};

class NightRecorder : public GeneratorObserver {
 public:
  explicit NightRecorder(SimSoundRun& soundRun) : run(soundRun) {}

  SimSoundRun& run;
  std::vector<StepRecord> steps;  // only the steps of the numbers in `keep`, or all
  std::vector<int64_t> keep;
  std::vector<std::pair<Phase, int64_t>> phaseStarts;
  std::vector<int64_t> programmeEnds;
  int64_t pulses = 0;
  int64_t programmeSteps = 0;
  std::function<void(NightRecorder&, const StepRecord&)> onStep;
  std::function<void(NightRecorder&, Phase, int64_t)> onPhase;
  std::function<void(NightRecorder&)> onProgrammeEnd;
  std::function<void(int64_t, int32_t)> onWrite;

  void OnPhaseStart(Phase phase, int64_t position) override {
    phaseStarts.emplace_back(phase, position);
    if (onPhase) onPhase(*this, phase, position);
  }
  void OnStepStart(Phase phase, int64_t number) override {
    const Generator& g = run.generator;
    const SharedState& s = run.state;
    if (phase == Phase::kSleepProgramme) programmeSteps = number;
    const StepRecord r{phase,
                       number,
                       s.stepValue,
                       s.stepPeriod,
                       g.halfPeriod,
                       g.gapLead,
                       g.dutyOffset,
                       g.floorValue,
                       s.cycleIndex,
                       s.currentHz,
                       s.burstRateHz,
                       s.stateText.Get(),
                       phase == Phase::kHealing ? g.healingPos : s.samplePos.Load(),
                       run.clock.NowMs()};
    if (keep.empty() || std::find(keep.begin(), keep.end(), number) != keep.end()) {
      steps.push_back(r);
    }
    if (onStep) onStep(*this, r);
  }
  void OnProgrammeEnd(int64_t position) override {
    programmeEnds.push_back(position);
    if (onProgrammeEnd) onProgrammeEnd(*this);
  }
  void OnPulse() override { ++pulses; }
  void OnRingWrite(int64_t position, int32_t count) override {
    if (onWrite) onWrite(position, count);
  }

  const StepRecord* Find(Phase phase, int64_t number) const {
    for (const StepRecord& r : steps) {
      if (r.phase == phase && r.number == number) return &r;
    }
    return nullptr;
  }
};

// Reads the option words into `state` (its moon as it was).
inline void ReadWords(SharedState& state, const std::vector<std::string>& words) {
  ReadOptions(state, words);
}

}  // namespace velmora::testing
