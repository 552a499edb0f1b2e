// velmora-soak: whole nights on the sim platform for every in-range setting in
// pulse and tone mode, and for option values far out of range, with the
// writer's invariants checked at every write and step. Prints the figures;
// exits 1 on the first setting that breaks an invariant.
//
// A night: the healing pattern for five minutes, Enter, the programme to its
// end, and a minute of healing again.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/options.h"
#include "app/sim_sound_run.h"

namespace velmora {
namespace {

const std::set<std::string> kLabels = {"HealingGamma", "NREM4 Delta", "  REM Beta",
                                       "NREM1 Alpha",  "NREM2 Theta", "NREM3 Delta"};

struct NightResult {
  std::string words;
  std::string failure;  // empty when every invariant held
  int64_t pulses = 0;
  int64_t writes = 0;
};

class Checker final : public GeneratorObserver {
 public:
  Checker(SimSoundRun& run, NightResult& result) : run_(run), result_(result) {}

  void OnPhaseStart(Phase phase, int64_t) override {
    phaseStartMs_ = run_.clock.NowMs();
    if (phase == Phase::kSleepProgramme) programmeStartMs_ = run_.clock.NowMs();
  }
  void OnStepStart(Phase, int64_t) override {
    const std::string label = run_.state.stateText.Get();
    if (!kLabels.count(label) && label.find(" is finished.Now healing.") == std::string::npos) {
      Fail("label \"" + label + "\"");
    }
  }
  void OnRingWrite(int64_t position, int32_t count) override {
    // Once asked to stop, the generator's waits return at once: its last
    // writes are not paced and are not the program's.
    if (run_.generator.Stopping()) return;
    ++result_.writes;
    const int64_t played = int64_t{run_.state.playedMs.Load()} << kRateShift;
    const int64_t lead = position - played;
    const bool restart = run_.clock.NowMs() == phaseStartMs_;
    if (count < 0 || count > kRingBytes) Fail("write of " + std::to_string(count) + " samples");
    if (lead < 0) Fail("write behind the played clock");
    if (lead > (int64_t{kLeadMs} << kRateShift) + 31) {
      Fail("write " + std::to_string(lead >> kRateShift) + " ms ahead at " +
           std::to_string(run_.clock.NowMs()) + " ms (" + std::to_string(count) + " samples at " +
           std::to_string(position) + ", played " + std::to_string(played) + ")");
    }
    if (lead < 2 * kBlockBytes && !restart) Fail("write into a block the device holds");
    if (position + count > played + kRingBytes) Fail("write round onto the held blocks");
  }
  void OnProgrammeEnd(int64_t) override {
    ended_ = true;
    if (run_.state.stateText.Get() == "CPU task is heavy!") Fail("overload");
    run_.clock.At(run_.clock.NowMs() + 60000, [this] { run_.generator.RequestStop(); });
  }
  void OnPulse() override { ++result_.pulses; }

  bool Ended() const { return ended_; }
  int64_t ProgrammeStartMs() const { return programmeStartMs_; }
  void Fail(const std::string& why) {
    if (result_.failure.empty()) result_.failure = why;
    run_.generator.RequestStop();
  }

 private:
  SimSoundRun& run_;
  NightResult& result_;
  int64_t phaseStartMs_ = -1;
  int64_t programmeStartMs_ = -1;
  bool ended_ = false;
};

NightResult Night(const std::vector<std::string>& words) {
  NightResult result;
  for (const std::string& w : words) result.words += w + " ";
  SharedState state;
  SimClock clock(0);
  ReadOptions(state, words);
  SimSoundRun run(state, clock);
  Checker checker(run, result);
  run.generator.observer = &checker;
  clock.At(5 * 60 * 1000, [&state] { state.healingMode = 0; });  // Enter
  // However long the plan, a night that has not ended after a day never will.
  clock.At(int64_t{26} * 3600 * 1000, [&checker] { checker.Fail("the programme did not end"); });
  run.Run();
  const int32_t minutes = state.planMinutes;
  if (minutes < 1 || minutes >= kPlanCapacityMinutes) {
    checker.Fail("planMinutes " + std::to_string(minutes));
  }
  if (!checker.Ended()) checker.Fail("the programme did not end");
  return result;
}

// 0, then ±1, ±2, ±5 per decade up to ±10^9.
std::vector<int64_t> LogValues() {
  std::vector<int64_t> values{0};
  for (int64_t decade = 1; decade <= 1000000000; decade *= 10) {
    for (int64_t m : {1, 2, 5}) {
      if (decade * m > 1000000000) break;
      values.push_back(decade * m);
      values.push_back(-decade * m);
    }
  }
  return values;
}

// An option word: the selector and a number.
std::string Word(const char* selector, int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%lld", selector, static_cast<long long>(value));
  return text;
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  std::vector<std::vector<std::string>> nights;
  for (int tone = 0; tone <= 1; ++tone) {
    for (int r = 2; r <= 7; ++r) {
      for (int t = 0; t <= 6; ++t) {
        for (int m = 1; m <= 8; ++m) {
          std::vector<std::string> w{Word("r", r), Word("+", t), Word("m", m)};
          if (tone) w.push_back("#");
          nights.push_back(w);
        }
      }
    }
  }
  if (argc > 1) {  // one night of the words given, for a closer look
    nights.assign(1, std::vector<std::string>(argv + 1, argv + argc));
  }
  const size_t inRange = nights.size();
  for (const char* selector : {"r", "-", "+", "m"}) {
    if (argc > 1) break;
    for (int64_t v : LogValues()) nights.push_back({Word(selector, v), "#"});
  }

  const auto started = std::chrono::steady_clock::now();
  std::atomic<size_t> next{0};
  std::atomic<int64_t> pulses{0}, writes{0};
  std::mutex failuresMutex;
  std::vector<NightResult> failures;
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < nights.size();) {
      NightResult r = Night(nights[i]);
      pulses += r.pulses;
      writes += r.writes;
      if (!r.failure.empty()) {
        std::lock_guard lock(failuresMutex);
        failures.push_back(r);
      }
    }
  };
  std::vector<std::thread> threads;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  for (unsigned i = 0; i < cores; ++i) threads.emplace_back(worker);
  for (std::thread& t : threads) t.join();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::printf(
      "velmora-soak: %zu nights (%zu in range, pulse and tone; %zu out of range), "
      "%lld pulses, %lld ring writes checked in %.1f s on %u threads\n",
      nights.size(), inRange, nights.size() - inRange, static_cast<long long>(pulses.load()),
      static_cast<long long>(writes.load()), wall, cores);
  for (const NightResult& f : failures) {
    std::printf("FAILED: %s: %s\n", f.words.c_str(), f.failure.c_str());
  }
  return failures.empty() ? 0 : 1;
}
