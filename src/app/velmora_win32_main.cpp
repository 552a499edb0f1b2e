// velmora.exe: the entry point on Windows, wiring the real services: the
// window manager, the GDI canvas, wave output, Win32 threads, the machine's
// clock, the giveio port-access set-up and direct port output or, with
// VELMORA_LIGHTS, a light box on a COM port.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "platform/giveio/giveio_access.h"
#include "platform/serial/serial_lights.h"
#include "platform/win32/gdi_canvas.h"
#include "platform/win32/win32_port.h"
#include "platform/win32/win32_power.h"
#include "platform/win32/win32_serial_line.h"
#include "platform/win32/win32_service_manager.h"
#include "platform/win32/win32_threads.h"
#include "platform/win32/win32_wave_device.h"
#include "platform/win32/win32_window_host.h"
#include "platform/win32/windows_api.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace velmora;
  // The records live for the whole process: the worker threads are never
  // told to stop and end with it.
  static SharedState state;
  static GdiCanvas canvas(chartLayout.windowWidth, chartLayout.windowHeight);
  static Win32WindowHost host(instance, canvas);
  static Win32WaveDevice waveDevice(host);
  static Win32Threads threads;
  static Win32Port parallelPort;
  static Win32ServiceManager serviceManager;
  static GiveioAccess giveio(serviceManager);
  static Win32SerialLine line;
  static SerialLights lights(line, std::getenv("VELMORA_LIGHTS"));
  Port& port = lights.Chosen() ? static_cast<Port&>(lights) : parallelPort;
  PortAccess& portAccess = lights.Chosen() ? static_cast<PortAccess&>(lights) : giveio;
  static Win32Power power;
  // The run-time has split the command line into the argument vector.
  static App app(
      state,
      AppServices{SystemClock(), threads, waveDevice, port, host, canvas, portAccess, &power},
      std::vector<std::string>(__argv + 1, __argv + __argc));
  const int code = RunVelmora(app);
  // The light box's last bytes (the dark one at Escape) go out before the end.
  if (lights.Chosen()) lights.Drain(kDarkAtEndNanos, [] { return LightWritesOver(app); });
  // End at once, workers included, without running static destructors under
  // their feet: the process's end is what stops them.
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(code));
}
