#include "platform/sim/sim_sound_run.h"

namespace velmora {

SimSoundRun::SimSoundRun(SharedState& sharedState, SimClock& simClock, bool deviceOpens)
    : state(sharedState),
      clock(simClock),
      device(simClock, deviceOpens),
      port(simClock),
      generator(sharedState, simClock, port) {}

void SimSoundRun::Run() {
  OpenAudioRing(ring, state, device, *this);
  state.tickCount = 0;
  state.playedMs = 0;
  state.blocksQueued = 0;
  generator.ring = ring.storage;
  clock.At(clock.NowMs() + kCreationPauseMs, [this] {
    QueueNextBlock(ring, state);
    creating_ = false;
    for (WaveHeader* header : pending_) OnWaveBlockDone(header);
    pending_.clear();
  });
  GeneratorThread(generator);
}

void SimSoundRun::OnWaveBlockDone(WaveHeader* header) {
  if (creating_) {
    pending_.push_back(header);
    return;
  }
  if (!OnBlockDone(ring, state, header)) ++noticesIgnored_;
}

}  // namespace velmora
