// Win32 window host: the main window of class "Velmora" through the window
// manager. Its window procedure turns every message the program handles into
// a WindowMessage for the handler and then passes it on to DefWindowProcA,
// so no message is answered without the default procedure (and
// DefaultProcessing has nothing left to do). The wave device's notices arrive
// as MM_WOM_DONE and MM_WOM_CLOSE and go to the device that asked for them.
// The window is the picture's size times the scale (VELMORA_SCALE, else the
// display's dots per inch, followed when it moves to another monitor); the
// canvas scales the copy to it.
//
// Thread safety: window thread only.
#pragma once

#include <string>

#include "platform/win32/windows_api.h"
#include "platform/window_host.h"

namespace velmora {

class GdiCanvas;

// Receives the wave-output messages of the main window, and the wave timer.
class WaveMessageSink {
 public:
  virtual ~WaveMessageSink() = default;
  virtual void OnWaveMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual void OnWaveTimer() = 0;
};

class Win32WindowHost final : public WindowHost {
 public:
  Win32WindowHost(HINSTANCE instance, GdiCanvas& canvas);

  bool CreateMainWindow(const std::string& title, int width, int height, Handler handler) override;
  void Show() override;
  int RunMessageLoop() override;
  void Invalidate() override;
  void StartTimer(uint32_t id, int periodMs) override;
  void StopTimer(uint32_t id) override;
  void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon icon) override;
  // MessageBoxA's own loop goes on dispatching the window's messages, the
  // wave notices and the timer among them: the night plays on under it.
  void ShowWarningBox(const std::string& caption, const std::string& text) override {
    ShowMessageBox(caption, text, BoxIcon::kWarning);
  }
  void PostQuit(int code) override;
  void DefaultProcessing(const WindowMessage&) override {}

  // The window, from the first message of its creation on (so during start-up).
  HWND Window() const { return window_; }
  void SetWaveMessageSink(WaveMessageSink* sink) { waveSink_ = sink; }
  // A one-second timer of the window for the wave device alone (its own
  // identifier, so the program's tick does not see it).
  void StartWaveTimer();
  static constexpr UINT_PTR kWaveTimerId = 0x7FFE;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Sizes the window and the copy to it for `dpi`, at `suggested`'s place
  // (null: where it is).
  void Rescale(HWND window, int dpi, const RECT* suggested);

  HINSTANCE instance_;
  GdiCanvas& canvas_;
  HWND window_ = nullptr;
  Handler handler_;
  WaveMessageSink* waveSink_ = nullptr;
  bool refused_ = false;  // the handler stopped the last creation
  int width_ = 0;         // the picture's size, the window's at scale 1
  int height_ = 0;
  int fixedScale_ = 0;  // VELMORA_SCALE's, or 0: the display's
};

// The message of the handler for a window message, or false for one the
// program does not handle.
bool TranslateWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, WindowMessage& out);

// The MessageBoxA style of a box with this icon.
UINT MessageBoxStyle(BoxIcon icon);

}  // namespace velmora
