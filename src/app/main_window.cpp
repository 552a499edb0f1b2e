#include "app/main_window.h"

#include <cstdio>

#include "app/options.h"
#include "generator/envelope.h"
#include "plan/moon.h"
#include "plan/night_plan.h"

namespace velmora {
namespace {

// One line on stderr, at once.
void Say(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

// Lets the computer suspend again, once, whichever way the night ends.
void ReleasePower(App& app) {
  if (!app.powerHeld) return;
  app.powerHeld = false;
  app.services.power->Release();
}

// Start-up, inside window creation. Returns false when creation must stop.
bool Startup(App& app) {
  SharedState& s = app.state;
  AppServices& sv = app.services;
  app.drawing = CreateDrawingObjects(sv.canvas);
  ComputeMoonFactor(s, sv.clock);
  ReadOptions(s, app.optionWords);
  // The computer stays awake from here to the close path, in either mode.
  if (sv.power != nullptr) {
    std::string why;
    app.powerHeld = sv.power->Hold(why);
    if (!app.powerHeld) {
      Say("velmora: cannot keep the computer awake (" + why + "); it may suspend during the night");
    }
  }
  const OutputServices output{sv.clock, sv.threads,     sv.waveDevice,
                              sv.port,  &sv.portAccess, &sv.host};
  OutputParts parts{app.ring, app.generator, &app.light, app};
  const CreationPause sleepThrough = [&sv](int32_t milliseconds, const std::function<void()>& end) {
    sv.clock.Sleep(milliseconds);
    end();
  };
  const StartResult started =
      StartOutput(s, output, parts, sv.creationPause ? sv.creationPause : sleepThrough);
  if (!started.running) {
    app.exitCode = started.exitCode;
    ReleasePower(app);
  } else if (!started.noDevice.empty()) {
    Say("velmora: no sound device (" + started.noDevice +
        "); the night runs on in silence, and velmora plays through a sound device as soon "
        "as one appears (velmora-render writes a night to a file without one)");
    // Its return is said too (the minute's count starts with the first loss).
    app.deviceNotices.lossSaid = true;
  }
  return started.running;
}

void SayLoss(App& app, int64_t nowMs) {
  DeviceNotices& n = app.deviceNotices;
  std::string line = "velmora: the sound device went away (" + n.reason +
                     "); the night goes on, silent, until it is back";
  if (n.unsaidLosses > 0) {
    line += " (it went away " + std::to_string(n.unsaidLosses) +
            (n.unsaidLosses == 1 ? " more time" : " more times") + " since the last message)";
  }
  Say(line);
  n.lossSaidAtMs = nowMs;
  n.lossSaid = true;
  n.lossPending = false;
  n.unsaidLosses = 0;
}

void Tick(App& app) {
  if (app.state.soundMode == 1) {
    // A loss kept back by the once-a-minute rule is said once the minute is
    // over, if the device is still away.
    const DeviceNotices& n = app.deviceNotices;
    const int64_t now = app.services.clock.MonotonicMs();
    if (n.lossPending && app.ring.deviceAway && now - n.lossSaidAtMs >= DeviceNotices::kQuietMs) {
      SayLoss(app, now);
    }
    // Sound mode ticks only while no device plays: the stand-in's blocks.
    if (StandInTick(app.ring, app.state, app.services.clock.MonotonicMs()) > 0) {
      app.services.host.Invalidate();
    }
    return;
  }
  app.state.tickCount = app.state.tickCount + 1;
  app.services.host.Invalidate();
  QueueNextBlock(app.ring, app.state);
}

void ClosePath(App& app) {
  ReleasePower(app);
  if (app.state.soundMode == 1) {
    if (app.ring.deviceAway) app.services.host.StopTimer(kTickTimerId);
    CloseAudioRing(app.ring);
  } else {
    app.services.host.StopTimer(kTickTimerId);
  }
  app.services.host.PostQuit(0);
}

void OnKey(App& app, uint32_t key) {
  SharedState& s = app.state;
  auto& flags = s.repaintFlags;
  if (key == kVkEscape) {
    s.sleepRunning = 0;
    ClosePath(app);
    return;
  }
  if (key == kVkSpace) {
    if (s.soundMode == 1) {
      s.toneMode = s.toneMode == 1 ? 0 : 1;
    } else {
      // The remainder of the signed 16-bit value: 255 gives 4, then 5, 6, 7, 1.
      s.lptOnPattern = static_cast<int16_t>(s.lptOnPattern % 7 + 1);
    }
    flags[kRepaintPowerRow] = 1;
    flags[kRepaintHelpRows] = 1;
  }
  if (key == kVkReturn) {
    if (s.healingMode == 1) {
      s.healingMode = 0;
    } else {
      s.sleepRunning = 0;
    }
  }
  // Plan edits only between programmes, and once the last build is painted.
  if (s.healingMode == 1 && s.cycleIndex > s.remCount && flags[kRepaintChart] == 0) {
    if (key == kVkUp && s.remCount > 2) {
      s.remCount = s.remCount - 1;
      BuildNightPlan(app.state);
    } else if (key == kVkDown && s.remCount < 7) {
      s.remCount = s.remCount + 1;
      BuildNightPlan(app.state);
    } else if (key == kVkLeft && s.timePlus > 0) {
      s.timePlus = s.timePlus - 1;
      BuildNightPlan(app.state);
    } else if (key == kVkRight && s.timePlus < 6) {
      s.timePlus = s.timePlus + 1;
      BuildNightPlan(app.state);
    }
  }
  if (key == kVkUp || key == kVkDown) {
    const int32_t level = s.lightLevel;
    if (key == kVkUp && level > 0 && level < 8) s.lightLevel = level + 1;
    if (key == kVkDown && level > 1) s.lightLevel = level - 1;
    BuildEnvelope(s, LightEnvelopeLevel(s.lightLevel));
    flags[kRepaintPowerRow] = 1;
    flags[kRepaintHelpRows] = 1;
    app.services.host.Invalidate();
  }
  if (key == kVkLeft || key == kVkRight) {
    const int32_t range = s.dutyRange;
    if (key == kVkLeft && range < 3) s.dutyRange = range + 1;
    if (key == kVkRight && range > 0) s.dutyRange = range - 1;
    flags[kRepaintPowerRow] = 1;
    flags[kRepaintHelpRows] = 1;
    app.services.host.Invalidate();
  }
}

}  // namespace

App::App(SharedState& sharedState, const AppServices& appServices, std::vector<std::string> words)
    : state(sharedState),
      services(appServices),
      optionWords(std::move(words)),
      generator(sharedState, appServices.clock, appServices.port, &appServices.threads),
      light{sharedState, appServices.port, &appServices.threads} {}

void App::OnWaveBlockDone(WaveHeader* header) {
  const WindowMessage message{WindowEvent::kWaveDone, 0, header};
  MainWindowProc(*this, message);
  services.host.DefaultProcessing(message);
}

void App::OnWaveClosed() {
  const WindowMessage message{WindowEvent::kWaveClose};
  MainWindowProc(*this, message);
  services.host.DefaultProcessing(message);
}

void App::OnWaveLost(const std::string& reason) {
  if (ring.closed || ring.deviceAway) return;
  const int64_t now = services.clock.MonotonicMs();
  DeviceLost(ring, now);
  services.host.StartTimer(kTickTimerId, 1000);
  DeviceNotices& n = deviceNotices;
  if (n.lossPending) ++n.unsaidLosses;  // the last one came and went unsaid
  n.reason = reason;
  n.lossPending = true;
  n.lossSaid = false;
  if (now - n.lossSaidAtMs >= DeviceNotices::kQuietMs) SayLoss(*this, now);
}

void App::OnWaveBack() {
  if (ring.closed || !ring.deviceAway) return;
  services.host.StopTimer(kTickTimerId);
  if (DeviceBack(ring, state, services.clock.MonotonicMs()) > 0) services.host.Invalidate();
  if (deviceNotices.lossSaid) Say("velmora: the sound is back");
  deviceNotices.lossSaid = false;
}

intptr_t MainWindowProc(App& app, const WindowMessage& message) {
  SharedState& s = app.state;
  switch (message.event) {
    case WindowEvent::kCreate:
      return Startup(app) ? 0 : -1;
    case WindowEvent::kDestroy:
      app.services.host.PostQuit(0);
      break;
    case WindowEvent::kSetFocus:
    case WindowEvent::kKillFocus:
    case WindowEvent::kMouseMove:
    case WindowEvent::kLButtonDown:
    case WindowEvent::kRButtonDown:
      // Not a repaint by itself: the whole bitmap goes with the next paint.
      s.repaintFlags[kRepaintCopyAll] = 1;
      break;
    case WindowEvent::kPaint:
      PaintWindow(s, app.drawing, app.services.canvas, app.services.clock, &app.services.host);
      break;
    case WindowEvent::kClose:
    case WindowEvent::kWaveClose:
      ClosePath(app);
      break;
    case WindowEvent::kKeyDown:
    case WindowEvent::kSysKeyDown:
      OnKey(app, message.key);
      break;
    case WindowEvent::kTimer:
      Tick(app);
      break;
    case WindowEvent::kWaveDone:
      if (OnBlockDone(app.ring, s, message.header, app.services.clock.MonotonicMs())) {
        app.services.host.Invalidate();
      }
      break;
  }
  return 0;
}

int RunVelmora(App& app) {
  char title[32];
  std::snprintf(title, sizeof title, kWindowTitleFormat, kWindowTitleNumber);
  const bool created = app.services.host.CreateMainWindow(
      title, chartLayout.windowWidth, chartLayout.windowHeight,
      [&app](const WindowMessage& message) { return MainWindowProc(app, message); });
  if (!created) return app.exitCode;
  app.services.host.Show();
  const int code = app.services.host.RunMessageLoop();
  ReleasePower(app);  // a window destroyed from outside ends the loop without the close path
  return code;
}

bool LightWritesOver(const App& app) {
  const SharedState& s = app.state;
  return s.lightThreadHandle.Load() == nullptr || s.sleepRunning != 0 || app.light.ended != 0;
}

}  // namespace velmora
