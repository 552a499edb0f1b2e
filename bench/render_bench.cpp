// Rendering the default night (m1, about 468 minutes): to nothing, to a WAV
// file, to a FLAC file. Counters: the night's length over the wall time
// (times real time) and the process's peak resident memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/render/night_render.h"
#include "tools/render/sinks.h"

namespace velmora::render {
namespace {

class NullSink final : public SampleSink {
 public:
  bool Write(const uint8_t*, size_t count) override {
    samples += static_cast<int64_t>(count);
    return true;
  }
  int64_t samples = 0;
};

RenderRequest DefaultNight() {
  RenderRequest r;
  r.words = {"m1"};
  r.atSeconds = 1127952000;
  return r;
}

void Report(benchmark::State& bench, int64_t samples) {
  bench.counters["x_real_time"] = benchmark::Counter(
      static_cast<double>(samples) / 32000.0 * static_cast<double>(bench.iterations()),
      benchmark::Counter::kIsRate);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  bench.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_RenderToNothing(benchmark::State& bench) {
  int64_t samples = 0;
  for (auto _ : bench) {
    NullSink sink;
    RenderNight(DefaultNight(), sink);
    samples = sink.samples;
  }
  Report(bench, samples);
}

void RenderToFile(benchmark::State& bench, AudioFormat format) {
  const std::string path =
      "/tmp/velmora-bench-" + std::to_string(getpid()) + "." + FormatName(format);
  int64_t samples = 0;
  for (auto _ : bench) {
    std::string error;
    auto sink = OpenSink(path, format, error);
    if (!sink) {
      bench.SkipWithError(error.c_str());
      return;
    }
    samples = RenderNight(DefaultNight(), *sink).samples;
    sink->Finish();
  }
  std::remove(path.c_str());
  Report(bench, samples);
}

void BM_RenderToWav(benchmark::State& bench) {
  RenderToFile(bench, AudioFormat::kWav);
}
void BM_RenderToFlac(benchmark::State& bench) {
  RenderToFile(bench, AudioFormat::kFlac);
}

BENCHMARK(BM_RenderToNothing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RenderToWav)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RenderToFlac)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace velmora::render

BENCHMARK_MAIN();
