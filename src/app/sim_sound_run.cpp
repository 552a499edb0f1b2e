#include "app/sim_sound_run.h"

#include <utility>

namespace velmora {

SimSoundRun::SimSoundRun(SharedState& sharedState, SimClock& simClock, bool deviceOpens)
    : state(sharedState),
      clock(simClock),
      device(simClock, deviceOpens),
      port(simClock),
      generator(sharedState, simClock, port) {}

void SimSoundRun::Run() {
  OutputParts parts{ring, generator, nullptr, *this};
  StartOutput(state, OutputServices{clock, threads_, device, port, &portAccess_}, parts,
              [this](int32_t milliseconds, std::function<void()> end) {
                clock.At(clock.NowMs() + milliseconds, [this, end = std::move(end)] {
                  end();
                  creating_ = false;
                  for (WaveHeader* header : std::exchange(pending_, {})) OnWaveBlockDone(header);
                });
              });
  if (ring.deviceAway) StandInEverySecond();
  threads_.RunStarted();
}

void SimSoundRun::StandInEverySecond() {
  clock.At(clock.NowMs() + 1000, [this] {
    if (!ring.deviceAway || ring.closed) return;
    // Ticks wait, like window messages, until creation is over.
    if (!creating_) StandInTick(ring, state, clock.MonotonicMs());
    StandInEverySecond();
  });
}

void SimSoundRun::OnWaveLost(const std::string&) {
  if (ring.closed || ring.deviceAway) return;
  DeviceLost(ring, clock.MonotonicMs());
  StandInEverySecond();
}

void SimSoundRun::OnWaveBack() {
  DeviceBack(ring, state, clock.MonotonicMs());
}

void SimSoundRun::OnWaveBlockDone(WaveHeader* header) {
  if (creating_) {
    pending_.push_back(header);
    return;
  }
  OnBlockDone(ring, state, header, clock.MonotonicMs());
}

}  // namespace velmora
