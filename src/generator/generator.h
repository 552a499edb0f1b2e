// The generator thread: for the life of the process it alternates the healing
// pattern and the sleep programme, writing samples into the audio ring (sound
// mode) or pulses to the parallel port (light mode), and reports through the
// shared state. It never calls the window.
//
// Thread safety: everything here runs on the generator thread only, except
// RequestStop, which any thread may call.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "app/shared_state.h"
#include "output/audio_ring.h"
#include "platform/clock.h"
#include "platform/port.h"
#include "platform/threads.h"

namespace velmora {

enum class Phase { kHealing, kSleepProgramme };

// Sees the generator's phase boundaries; used by the offline renderer and by
// tests. Generator thread.
class GeneratorObserver {
 public:
  virtual ~GeneratorObserver() = default;
  // A phase begins writing at `position` (healing: its first step start;
  // programme: after its start pause).
  virtual void OnPhaseStart(Phase, int64_t /*position*/) {}
  // A step has started: its gap is written, its pulses follow. Steps are
  // counted from 1 in each phase.
  virtual void OnStepStart(Phase, int64_t /*stepNumber*/) {}
  // The writers are about to write `count` ring samples from `position`.
  virtual void OnRingWrite(int64_t /*position*/, int32_t /*count*/) {}
  // The programme ends at `position`, before its end steps silence the ring.
  virtual void OnProgrammeEnd(int64_t /*position*/) {}
  virtual void OnPulse() {}
};

// The generator's services, settings and working values.
struct Generator {
  Generator(SharedState& sharedState, Clock& clockService, Port& portService,
            Threads* threadService = nullptr)
      : state(sharedState), clock(clockService), port(portService), threads(threadService) {}

  SharedState& state;
  Clock& clock;
  Port& port;
  Threads* threads;
  // The ring's bytes in sound mode; null in light mode (ringBytes 0).
  std::shared_ptr<RingStorage> ring;
  GeneratorObserver* observer = nullptr;

  // Working values of the thread.
  int32_t pulseIndex = 0;
  int32_t halfPeriod = 0;
  int32_t gapLead = 0;
  int32_t dutyOffset = 0;
  int32_t floorValue = 0;
  int64_t healingPos = 0;
  int64_t stepNumber = 0;  // steps started in the present phase, for observers
  // Tone writer state.
  std::array<uint8_t, 1 << kToneTableShift> toneTable{};
  int32_t toneOffset = 0;
  int32_t toneSampleCount = 0;
  // The computer's time asleep already added to startTime, in milliseconds
  // of the clock's count.
  int64_t asleepCountedMs = 0;

  // Set to end the thread's loops at the next pulse or wait; the program
  // itself never stops its generator (it ends with the process), tests and
  // the renderer do.
  Relaxed<bool> stopRequested{false};
  void RequestStop() { stopRequested = true; }
  bool Stopping() const { return stopRequested; }
};

// The thread's body: raise priority, clear the repaint flags, build the plan,
// then healing phase and sleep programme in turn until stopped.
void GeneratorThread(Generator& g);

// Plays the healing pattern until a step start finds healingMode 0.
void RunHealingPhase(Generator& g);

// Plays the night programme from its start pause to its end steps.
void RunSleepProgramme(Generator& g);

// The load test of the sound programme: whether the clock, `nowTime` seconds,
// has run more than 1% ahead of the write position since `startTime`.
bool FallenBehind(int32_t nowTime, int32_t startTime, int64_t samplePos);

// The finish text: "HH:MM is finished.Now healing." for the local time of `seconds`.
std::string FinishText(Clock& clock, int32_t seconds);

}  // namespace velmora
