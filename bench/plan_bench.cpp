// Night plan build times: the default settings, and every in-range setting.
#include <benchmark/benchmark.h>

#include "plan/night_plan.h"

namespace velmora {
namespace {

void BM_BuildNightPlanDefault(benchmark::State& bench) {
  SharedState state;
  state.moonFactor = 1;
  for (auto _ : bench) {
    BuildNightPlan(state);
    benchmark::DoNotOptimize(state.planMinutes.Load());
  }
}
BENCHMARK(BM_BuildNightPlanDefault)->Unit(benchmark::kMicrosecond);

void BM_BuildNightPlanAll336(benchmark::State& bench) {
  SharedState state;
  for (auto _ : bench) {
    for (int32_t r = 2; r <= 7; ++r) {
      for (int32_t t = 0; t <= 6; ++t) {
        for (int32_t m = 1; m <= 8; ++m) {
          state.remCount = r;
          state.timePlus = t;
          state.moonFactor = m;
          BuildNightPlan(state);
        }
      }
    }
    benchmark::DoNotOptimize(state.planMinutes.Load());
  }
}
BENCHMARK(BM_BuildNightPlanAll336)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
