// The output's start-up, written once for velmora's window creation and for
// the headless run (the renderer and the tests), so both bring the night up
// in the same order: the ring opened (sound) or the port's access set up and
// its registers written (light); the counters zeroed; the light thread, then
// the generator thread started; the creation pause; then block 1 handed to
// the device (sound) or the display tick started (light, and sound while no
// device plays: the tick then stands in for the device).
//
// Thread safety: the window thread (or the headless run's one thread).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/shared_state.h"
#include "generator/generator.h"
#include "output/audio_ring.h"
#include "output/light_output.h"
#include "platform/clock.h"
#include "platform/port.h"
#include "platform/port_access.h"
#include "platform/threads.h"
#include "platform/wave_device.h"
#include "platform/window_host.h"

namespace velmora {

// The time between starting the workers and handing the device its second
// block: the generator's start pauses fill the ring meanwhile.
inline constexpr int32_t kCreationPauseMs = 2000;
inline constexpr uint32_t kTickTimerId = 0x7FFF;
inline constexpr size_t kWorkerStackBytes = 4096;

struct OutputServices {
  Clock& clock;
  Threads& threads;
  WaveDevice& waveDevice;
  Port& port;
  // Light mode only: the window's host shows the failure and runs the tick.
  PortAccess* portAccess = nullptr;
  WindowHost* host = nullptr;
};

struct OutputParts {
  AudioRing& ring;
  Generator& generator;
  LightThreadContext* light = nullptr;  // the window's; a headless run has none
  WaveNoticeTarget& notices;            // the device's notices go here
};

// How the creation pause passes. The window sleeps through it while the
// workers run; the headless run, whose generator runs on the run's own thread
// after start-up, has its virtual clock call `end` when the pause is over.
using CreationPause = std::function<void(int32_t milliseconds, std::function<void()> end)>;

struct StartResult {
  bool running;
  int exitCode;  // what the process ends with when not running
  // Sound mode: why no device opened, or empty. The night runs all the same,
  // on the stand-in tick, until the device comes.
  std::string noDevice;
};

StartResult StartOutput(SharedState& s, const OutputServices& sv, OutputParts& parts,
                        const CreationPause& pause);

}  // namespace velmora
