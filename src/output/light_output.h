// Parallel-port light output: the start-up writes of the port's registers and
// the light thread, which dims the lights by pulse-width modulation from the
// generator's present amplitude.
#pragma once

#include <cstdint>

#include "app/shared_state.h"
#include "platform/clock.h"
#include "platform/port.h"
#include "platform/threads.h"

namespace velmora {

// A 5 ms pause, then 0 to the control register and 255 to the data register.
// Window thread, in light mode, before the threads start.
void InitPortRegisters(SharedState& state, Port& port, Clock& clock);

struct LightThreadContext {
  SharedState& state;
  Port& port;
  Threads* threads = nullptr;
  uint32_t counter = 0;    // free-running; only its value modulo 64 matters
  Relaxed<Flag> ended{0};  // the last (dark) write is made; any thread reads
};

// Four writes of the modulation; each lights the port when counter mod 64 is
// below envelopeNow. Light thread.
void LightWrites(LightThreadContext& light);

// The thread's body: full duty at start, normal priority, writes while
// sleepRunning is set, 0 to the data register as it ends. Light thread.
void LightThread(LightThreadContext& light);

}  // namespace velmora
