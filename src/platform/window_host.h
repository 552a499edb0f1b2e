// Window host service: the one main window, its messages and its message loop.
// A back-end delivers the messages below in its platform's order: creation
// inside CreateMainWindow, keys with their virtual-key codes, the one-second
// timer, the wave device's notices on the window thread, and a quit request
// that ends the loop.
//
// Thread safety: window thread only, except where said.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

// Message numbers as the window manager of the original design gives them.
enum class WindowEvent : uint32_t {
  kCreate = 1,
  kDestroy = 2,
  kSetFocus = 7,
  kKillFocus = 8,
  kPaint = 15,
  kClose = 16,
  kKeyDown = 256,
  kSysKeyDown = 260,  // a key with Alt held
  kTimer = 275,
  kMouseMove = 512,
  kLButtonDown = 513,
  kRButtonDown = 516,
  kWaveClose = 956,
  kWaveDone = 957,
};

// Virtual-key codes the handler acts on.
enum VirtualKey : uint32_t {
  kVkReturn = 13,
  kVkEscape = 27,
  kVkSpace = 32,
  kVkLeft = 37,
  kVkUp = 38,
  kVkRight = 39,
  kVkDown = 40,
};

struct WindowMessage {
  WindowEvent event;
  uint32_t key = 0;              // virtual-key code of a key message; timer id
  const void* header = nullptr;  // the finished block's header of kWaveDone
};

enum class BoxIcon { kNone, kWarning, kError, kInformation };

class WindowHost {
 public:
  using Handler = std::function<intptr_t(const WindowMessage&)>;
  virtual ~WindowHost() = default;

  // Creates the hidden main window; the handler receives kCreate inside this
  // call. Returns false when no window exists afterwards (the platform could
  // not make one, or the handler's kCreate returned -1).
  virtual bool CreateMainWindow(const std::string& title, int width, int height,
                                Handler handler) = 0;
  // Shows the window without taking the focus and paints it at once.
  virtual void Show() = 0;
  // Runs until a quit request; returns its code.
  virtual int RunMessageLoop() = 0;
  // Asks for a paint of the whole window, without erasing.
  virtual void Invalidate() = 0;
  virtual void StartTimer(uint32_t id, int periodMs) = 0;
  virtual void StopTimer(uint32_t id) = 0;
  // A modal box owned by the window; returns when it is closed.
  virtual void ShowMessageBox(const std::string& caption, const std::string& text,
                              BoxIcon icon) = 0;
  // A warning box owned by the window that the night does not wait for:
  // while it is up, the device's notices and the ticks are still delivered
  // (and the sound plays on), whether the host shows it from a thread of its
  // own or from a modal loop that goes on dispatching them.
  virtual void ShowWarningBox(const std::string& caption, const std::string& text) = 0;
  virtual void PostQuit(int code) = 0;
  // What the platform does with a message by default: a close request
  // destroys the window (which brings kDestroy).
  virtual void DefaultProcessing(const WindowMessage& message) = 0;
};

}  // namespace velmora
