// SimSoundRun: the generator in sound mode on the sim platform, brought up the
// way window creation brings it up: the ring opened and block 0 written at
// time 0, the counters zeroed, the generator started, and after the 2000 ms
// pause block 1 handed over; finished-block notices that arrive during the
// pause wait, like window messages, until it is over. The generator then runs
// on the calling thread, its sleeps driving the virtual clock.
#pragma once

#include <cstdint>
#include <vector>

#include "generator/generator.h"
#include "output/audio_ring.h"
#include "platform/sim/recording_port.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_wave_device.h"

namespace velmora {

class SimSoundRun final : public WaveNoticeTarget {
 public:
  // `state` holds the settings (option words already read, moon computed).
  SimSoundRun(SharedState& sharedState, SimClock& simClock, bool deviceOpens = true);

  SharedState& state;
  SimClock& clock;
  SimWaveDevice device;
  RecordingPort port;
  AudioRing ring;
  Generator generator;

  // Opens the ring and schedules the end of the creation pause; then runs the
  // generator until it is asked to stop.
  void Run();

  // The close path's share: closes the ring once (the device's own closed
  // notice comes back here too).
  void Close() { CloseAudioRing(ring); }

  void OnWaveBlockDone(WaveHeader* header) override;
  void OnWaveClosed() override { Close(); }

  int64_t NoticesIgnored() const { return noticesIgnored_; }

 private:
  static constexpr int32_t kCreationPauseMs = 2000;
  bool creating_ = true;
  std::vector<WaveHeader*> pending_;
  int64_t noticesIgnored_ = 0;
};

}  // namespace velmora
