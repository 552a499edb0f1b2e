// The main window's logic, apart from any platform: start-up inside window
// creation, the display tick, the keys and the close path. The platform's
// window host calls MainWindowProc for every message, on the window thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/output_start.h"
#include "app/shared_state.h"
#include "display/painter.h"
#include "generator/generator.h"
#include "output/audio_ring.h"
#include "output/light_output.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/port.h"
#include "platform/port_access.h"
#include "platform/power.h"
#include "platform/threads.h"
#include "platform/wave_device.h"
#include "platform/window_host.h"

namespace velmora {

inline constexpr const char* kWindowTitleFormat = "VelmoraSystem %d";
inline constexpr int kWindowTitleNumber = 132;

struct AppServices {
  Clock& clock;
  Threads& threads;
  WaveDevice& waveDevice;
  Port& port;
  WindowHost& host;
  Canvas& canvas;
  PortAccess& portAccess;
  Power* power = nullptr;  // none: nothing keeps the computer awake
  // How the creation pause passes; empty: the window thread sleeps through
  // it. A host whose window thread must not sleep (the browser's audio
  // thread) ends it later from its own loop.
  CreationPause creationPause = {};
};

// What the sound device's losses and returns say on stderr: each at once,
// but a device that flaps says its loss and its return at most once a
// minute, and then how often it went away meanwhile. Window thread only.
struct DeviceNotices {
  static constexpr int64_t kQuietMs = 60000;
  int64_t lossSaidAtMs = INT64_MIN / 2;  // monotonic
  bool lossSaid = false;                 // the present loss is said: its return will be
  bool lossPending = false;              // the present loss is not said yet
  int32_t unsaidLosses = 0;              // since the last loss said, the present one aside
  std::string reason;                    // the present loss's
};

// The program's one set of records: the shared state, the services, the ring,
// the generator and the drawing objects. Made once by the entry point.
struct App final : WaveNoticeTarget {
  App(SharedState& sharedState, const AppServices& appServices, std::vector<std::string> words);

  SharedState& state;
  AppServices services;
  std::vector<std::string> optionWords;
  AudioRing ring;
  Generator generator;
  LightThreadContext light;
  DrawingObjects drawing;
  DeviceNotices deviceNotices;
  int exitCode = 1;  // what the process ends with if creation stops short
  bool powerHeld = false;

  // The device's notices, on the window thread: passed on as messages.
  void OnWaveBlockDone(WaveHeader* header) override;
  void OnWaveClosed() override;
  // While the device is away the window's one-second timer hands the blocks
  // back in its place; said on stderr as DeviceNotices says.
  void OnWaveLost(const std::string& reason) override;
  void OnWaveBack() override;
};

// Handles one message; every message then gets the host's default processing.
// Returns -1 from kCreate when creation must stop (exitCode says how the
// process ends), else 0.
intptr_t MainWindowProc(App& app, const WindowMessage& message);

// The entry point's steps: the window (start-up runs inside its creation),
// shown, then the message loop; returns the process's exit code.
int RunVelmora(App& app);

// Whether the port has had its last write from the light thread: it has
// made its dark write at the end, or it makes none (no light thread, or one
// that the close path did not tell to stop). Any thread.
bool LightWritesOver(const App& app);

}  // namespace velmora
