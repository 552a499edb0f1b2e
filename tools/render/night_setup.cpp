#include "tools/render/night_setup.h"

#include "app/sim_sound_run.h"
#include "plan/moon.h"

namespace velmora::render {

BoundReport SetUpNight(const RenderRequest& request, SharedState& state, SimClock& clock) {
  ComputeMoonFactor(state, clock);
  const BoundReport bounds = ReadOptions(state, request.words);
  if (request.mode == RenderMode::kProgramme) state.healingMode = 0;
  return bounds;
}

void PressEnterAfter(SimSoundRun& run, int32_t seconds) {
  run.clock.At(run.clock.NowMs() + int64_t{seconds} * 1000, [&run] { run.state.healingMode = 0; });
}

std::vector<std::string> BoundNotes(const BoundReport& bounds) {
  std::vector<std::string> notes;
  for (int i = 0; i < bounds.count; ++i) {
    const ClampedSetting& c = bounds.clamped[i];
    notes.push_back(std::string(c.name) + " " + std::to_string(c.given) + " is outside " +
                    std::to_string(c.range.min) + ".." + std::to_string(c.range.max) + "; using " +
                    std::to_string(c.used));
  }
  return notes;
}

}  // namespace velmora::render
