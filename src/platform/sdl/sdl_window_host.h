// SDL2 window host: implements WindowHost with an SDL2 window whose pixels are
// the software canvas's window raster. Links SDL2 and Xlib (for the one
// handler of a display that goes away).
//
// Messages: creation runs inside CreateMainWindow on a hidden window; keys
// arrive as virtual-key codes (kSysKeyDown with Alt held, repeats included);
// the one-second timer and invalidations arrive as SDL user events on the
// window thread; the wave device's share of the thread (its notices, its
// retries) runs whenever the loop wakes. Nothing here holds the loop for
// long: the warning box is shown from a thread of its own.
#pragma once

#include <SDL.h>

#include <string>

#include "platform/raster/raster_canvas.h"
#include "platform/wave_device.h"
#include "platform/window_host.h"

namespace velmora {

// The sound device's share of the window thread.
class SdlAudioClient {
 public:
  virtual ~SdlAudioClient() = default;
  // SDL_AUDIODEVICEADDED and SDL_AUDIODEVICEREMOVED.
  virtual void OnAudioEvent(const SDL_Event& event) = 0;
  // Called each time the loop wakes; returns within how many milliseconds it
  // wants to be called again, or -1 for no sooner than usual.
  virtual int Service() = 0;
};

class SdlWindowHost final : public WindowHost {
 public:
  explicit SdlWindowHost(RasterCanvas& canvas);
  ~SdlWindowHost() override;

  bool CreateMainWindow(const std::string& title, int width, int height, Handler handler) override;
  void Show() override;
  int RunMessageLoop() override;
  void Invalidate() override;
  void StartTimer(uint32_t id, int periodMs) override;
  void StopTimer(uint32_t id) override;
  void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon icon) override;
  void ShowWarningBox(const std::string& caption, const std::string& text) override;
  void PostQuit(int code) override;
  void DefaultProcessing(const WindowMessage& message) override;

  // The user event that wakes the loop for the wave device.
  static Uint32 WaveEventType();
  void SetAudioClient(SdlAudioClient* client) { audio_ = client; }

 private:
  void Dispatch(const WindowMessage& message);
  void Present();
  void HandleEvent(const SDL_Event& event);

  RasterCanvas& canvas_;
  SDL_Window* window_ = nullptr;
  Handler handler_;
  bool quit_ = false;
  int quitCode_ = 0;
  bool paintPending_ = false;
  int scale_ = 1;  // screen pixels per picture pixel, each way
  SDL_TimerID timer_ = 0;
  uint32_t timerId_ = 0;
  SdlAudioClient* audio_ = nullptr;
};

// The virtual-key code of an SDL key with its modifiers, or 0 for a key the
// program ignores.
uint32_t VirtualKeyFor(SDL_Keycode key, Uint16 mod);

}  // namespace velmora
