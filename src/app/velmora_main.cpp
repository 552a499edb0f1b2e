// velmora: the entry point on Linux, wiring the real services: the SDL2 window
// and sound, the software canvas with a TrueType font, POSIX threads, the
// machine's clock, and the parallel port or, with VELMORA_LIGHTS, a light box
// on a serial line.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "platform/freetype/freetype_text.h"
#include "platform/linux/linux_port.h"
#include "platform/linux/linux_power.h"
#include "platform/linux/linux_serial_line.h"
#include "platform/posix/posix_threads.h"
#include "platform/raster/raster_canvas.h"
#include "platform/sdl/sdl_wave_device.h"
#include "platform/sdl/sdl_window_host.h"
#include "platform/serial/serial_lights.h"
#include "velmora_version.h"

int main(int argc, char** argv) {
  using namespace velmora;
  // The records live for the whole process: the worker threads are never
  // told to stop and end with it.
  static SharedState state;
  static FreeTypeText text;
  static RasterCanvas canvas(chartLayout.windowWidth, chartLayout.windowHeight,
                             text.Ready() ? &text : nullptr);
  static SdlWindowHost host(canvas);
  static SdlWaveDevice waveDevice;
  host.SetAudioClient(&waveDevice);
  static PosixThreads threads;
  static LinuxPort parallelPort;
  static LinuxSerialLine line;
  static SerialLights lights(line, std::getenv("VELMORA_LIGHTS"));
  Port& port = lights.Chosen() ? static_cast<Port&>(lights) : parallelPort;
  PortAccess& portAccess = lights.Chosen() ? static_cast<PortAccess&>(lights) : parallelPort;
  static LinuxPower power;
  static App app(
      state,
      AppServices{SystemClock(), threads, waveDevice, port, host, canvas, portAccess, &power},
      std::vector<std::string>(argv + 1, argv + argc));
  const int code = RunVelmora(app);
  // The light box's last bytes (the dark one at Escape) go out before the end.
  if (lights.Chosen()) lights.Drain(kDarkAtEndNanos, [] { return LightWritesOver(app); });
  // End at once, workers included, without running static destructors under
  // their feet: the process's end is what stops them.
  std::fflush(nullptr);
  std::_Exit(code);
}
