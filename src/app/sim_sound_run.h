// SimSoundRun: velmora without a window, on the sim platform, for the
// renderer and the tests. It goes through the program's own start-up (the
// ring opened and block 0 written at time 0, the counters zeroed, the
// generator started, block 1 handed over after the creation pause);
// finished-block notices that arrive during the pause wait, like window
// messages, until it is over. While the device is away (it never opened, or
// a test took it away) a one-second tick of the virtual clock stands in for
// it. The generator then runs on the calling thread,
// its sleeps driving the virtual clock. In light mode the port is always
// there: its registers are written into `port`'s record, and there is no
// light thread and no display tick.
#pragma once

#include <cstdint>
#include <vector>

#include "app/output_start.h"
#include "generator/generator.h"
#include "output/audio_ring.h"
#include "platform/sim/deferred_threads.h"
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

  // Starts the output and runs the generator until it is asked to stop.
  void Run();

  // The close path's share: closes the ring once (the device's own closed
  // notice comes back here too).
  void Close() { CloseAudioRing(ring); }

  void OnWaveBlockDone(WaveHeader* header) override;
  void OnWaveClosed() override { Close(); }
  // While the device is away, a one-second tick of the virtual clock hands
  // the blocks back, as the window's timer does in velmora.
  void OnWaveLost(const std::string& reason) override;
  void OnWaveBack() override;

 private:
  void StandInEverySecond();

  class ReadyPortAccess final : public PortAccess {
   public:
    PortAccessResult SetUpPortAccess(uint16_t) override {
      return PortAccessResult::kNoDriverNeeded;
    }
    void ReportFailure(WindowHost&) override {}
  };

  DeferredThreads threads_;
  ReadyPortAccess portAccess_;
  bool creating_ = true;
  std::vector<WaveHeader*> pending_;
};

}  // namespace velmora
