// SharedState: the one record of settings and run state that the window
// thread, the generator thread and the light thread share. The program makes
// one and hands it down; a test makes its own.
//
// Thread safety: every field that crosses threads is a Relaxed<T> (a relaxed
// atomic seen whole, old or new). The state text is the one non-scalar and has
// its own lock so a paint never reads half a label.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "app/relaxed.h"
#include "app/units.h"

namespace velmora {

// One-byte repaint requests. Any thread stores 1; painting tests and clears.
enum RepaintFlag : int {
  kRepaintChart = 0,
  kRepaintStateRow = 1,
  kRepaintTimerRow = 2,
  kRepaintSleepRow = 3,
  kRepaintPowerRow = 4,
  kRepaintHelpRows = 5,
  kRepaintWarning = 14,  // the overload warning is pending
  kRepaintCopyAll = 15,  // copy the whole off-screen bitmap at the next paint
};
inline constexpr int kRepaintFlagCount = 16;
using RepaintFlags = std::array<Relaxed<uint8_t>, kRepaintFlagCount>;

// The label of the STATE row: up to 255 characters. Any thread may call.
class StateText {
 public:
  static constexpr size_t kCapacity = 255;

  void Set(std::string_view text) {
    std::lock_guard lock(mutex_);
    length_ = text.size() < kCapacity ? text.size() : kCapacity;
    text.copy(chars_.data(), length_);
  }
  std::string Get() const {
    std::lock_guard lock(mutex_);
    return std::string(chars_.data(), length_);
  }
  // Copies the text with its terminating zero into `out` without allocating.
  void CopyTo(std::array<char, kCapacity + 1>& out) const {
    std::lock_guard lock(mutex_);
    std::copy_n(chars_.data(), length_, out.data());
    out[length_] = '\0';
  }

 private:
  mutable std::mutex mutex_;
  std::array<char, kCapacity> chars_{};
  size_t length_ = 0;
};

// The STATE row's label when the generator falls behind the clock; the
// warning box begins with it.
inline constexpr const char* kOverloadLabel = "CPU task is heavy!";

using Flag = uint8_t;  // 0 or 1

struct SharedState {
  // Output and device settings.
  Relaxed<uint16_t> lptDataPort{0x378};
  Relaxed<uint16_t> lptControlPort{0x37A};  // always lptDataPort + 2
  Relaxed<int16_t> lptOnPattern{255};       // only its low byte reaches the port
  Relaxed<Flag> soundMode{1};               // 0 = light output on the parallel port
  Relaxed<Flag> toneMode{0};                // sound mode: 1 = tone, 0 = pulse waveform
  Relaxed<Flag> invertedPulse{0};           // the rising pulse shape
  Relaxed<int32_t> lightLevel{0};           // 1..8 in light mode; 0 = no light thread
  Relaxed<int32_t> dutyRange{2};            // 0..4 from the command line, 0..3 by keys

  // Mode flags.
  Relaxed<Flag> healingMode{1};   // 1 = healing wanted, 0 = sleep programme wanted
  Relaxed<Flag> sleepRunning{1};  // 1 = output live; cleared to stop a programme

  // Night plan settings and results.
  Relaxed<int32_t> remCount{6};    // sleep cycles; 2..7 by keys
  Relaxed<int32_t> timePlus{1};    // lengthens cycleUnit; 0..6 by keys
  Relaxed<int32_t> moonFactor{0};  // 1..8 from the moon, or the "m" option word
  Relaxed<double> moonAgeDays{0.0};
  Relaxed<int32_t> cycleUnit{0};   // rate in Hz = value / cycleUnit
  Relaxed<int32_t> cycleTicks{0};  // (cycleUnit * 2000) << kRateShift
  Relaxed<float> stretch{0.0f};    // step-length factor
  Relaxed<int32_t> planMinutes{0};
  Relaxed<int32_t> cycleIndex{0};  // remCount + 1 = no programme in progress
  std::array<Relaxed<int16_t>, kPlanCapacityMinutes> planFreq{};          // pulses/s
  std::array<Relaxed<int16_t>, kPlanCapacityMinutes> planPulseSeconds{};  // s per step

  // Clocks and positions.
  Relaxed<int64_t> samplePos{0};  // write cursor of the programme, in samples
  // The audio clock: blocksQueued * 1000 at each block done, in 64 bits (the
  // healing before Enter may run for weeks: 2^31 ms are 24.9 days).
  Relaxed<int64_t> playedMs{0};
  // Blocks handed to the device after the first. The window thread adds one
  // for each block, the generator reduces it to its low four bits at a phase
  // start; both are atomic read-modify-writes, so that neither loses the
  // other's change (a lost increment would hand the device a block it holds).
  Relaxed<int32_t> blocksQueued{0};
  Relaxed<int32_t> lastHeader{0};  // index of the block header written last
  Relaxed<int32_t> tickCount{0};   // display ticks; the lowest bit blinks the cursor
  Relaxed<int32_t> startTime{0};   // seconds since 1970
  Relaxed<int32_t> finishTime{0};
  Relaxed<int32_t> nowTime{0};

  // Generator status.
  Relaxed<int32_t> stepValue{0};
  Relaxed<int32_t> stepPeriod{0};
  Relaxed<float> currentHz{0.0f};
  Relaxed<float> burstRateHz{0.0f};
  StateText stateText;
  std::array<Relaxed<uint8_t>, 256> envelope{};  // half-sine amplitudes, each 0..63
  Relaxed<int16_t> envelopeNow{0};               // present pulse amplitude 0..63
  Relaxed<int32_t> healingStep{0};               // 0..53

  // Threads, as the platform's opaque handles.
  Relaxed<void*> generatorThreadHandle{nullptr};
  Relaxed<void*> lightThreadHandle{nullptr};

  RepaintFlags repaintFlags{};
};

}  // namespace velmora
