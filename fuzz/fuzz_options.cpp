// Fuzz target: option words -> ReadOptions -> the night plan -> the first
// steps of a healing phase and of a programme on the sim platform. The input
// is split into words at newlines.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/sim_sound_run.h"
#include "lines.h"

namespace {

using namespace velmora;

// Stops the generator after a few hundred pulses of each phase.
class FirstSteps final : public GeneratorObserver {
 public:
  explicit FirstSteps(Generator& g) : g_(g) {}
  void OnPhaseStart(Phase phase, int64_t) override {
    pulses_ = 0;
    if (phase == Phase::kHealing && ++healingPhases_ > 1) g_.RequestStop();
  }
  void OnPulse() override {
    if (++pulses_ > 300) {
      if (g_.state.healingMode == 1) {
        g_.state.healingMode = 0;  // Enter
      } else {
        g_.state.sleepRunning = 0;  // Enter again
      }
      pulses_ = -100000;
    }
  }

 private:
  Generator& g_;
  int64_t pulses_ = 0;
  int healingPhases_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> words = SplitLines(data, size, "velmora");
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());

  SharedState state;
  state.moonFactor = 1;
  ReadOptions(state, static_cast<int>(argv.size()), argv.data());
  state.soundMode = 1;  // light mode would sleep through real port pulses
  SimClock clock(0);
  SimSoundRun run(state, clock);
  FirstSteps steps(run.generator);
  run.generator.observer = &steps;
  // However the words fall, a bounded amount of virtual time.
  clock.At(int64_t{4} * 3600 * 1000, [&run] { run.generator.RequestStop(); });
  run.Run();
  return 0;
}
