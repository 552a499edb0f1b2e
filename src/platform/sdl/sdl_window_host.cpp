#include "platform/sdl/sdl_window_host.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/box_text.h"
#include "platform/scale/display_scale.h"
#include "platform/sdl/quiet_stderr.h"

namespace velmora {
namespace {

// User event codes of the host's own event type.
enum HostEvent : Sint32 { kPaintEvent = 1, kTimerEvent = 2 };

Uint32 HostEventType() {
  static const Uint32 type = SDL_RegisterEvents(1);
  return type;
}

// The X server closed the connection: nothing can be shown any more. The
// process ends at once, its worker threads with it, as at any other end.
int OnDisplayLost(Display*) {
  std::fputs("velmora: the display went away; ending\n", stderr);
  std::fflush(nullptr);
  std::_Exit(1);
}

Uint32 TimerCallback(Uint32 interval, void* param) {
  SDL_Event event{};
  event.type = HostEventType();
  event.user.code = kTimerEvent;
  event.user.data1 = param;
  // A tick lost to a full queue is made up by the next: the stand-in for a
  // sound device counts its blocks by the clock, not by the ticks.
  SDL_PushEvent(&event);
  return interval;
}

// SIGINT and SIGTERM end velmora within a second, whatever holds the window
// thread: the signal asks the window for its close path (as SDL's own
// handler would), and if the window thread has not ended the process half a
// second later (a message box is up, which SDL's box shows in a loop of its
// own), the watcher ends it, with the close path's exit code.
constexpr Uint32 kSignalGraceMs = 500;
int signalPipe[2] = {-1, -1};

void OnEndSignal(int number) {
  const char byte = static_cast<char>(number);
  const ssize_t written = write(signalPipe[1], &byte, 1);
  (void)written;  // a full pipe already holds an end request
}

void WatchEndSignals() {
  char byte = 0;
  while (read(signalPipe[0], &byte, 1) < 0 && errno == EINTR) {
  }
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  SDL_Delay(kSignalGraceMs);
  std::fputs("velmora: ending at the signal\n", stderr);
  std::fflush(nullptr);
  std::_Exit(0);
}

void HandleEndSignals() {
  static bool installed = false;
  if (installed || pipe2(signalPipe, O_CLOEXEC) != 0) return;
  installed = true;
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  struct sigaction action {};
  action.sa_handler = &OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::thread(&WatchEndSignals).detach();
}

// Only one warning box at a time: a second overload while the first is up
// adds nothing the user has not been told.
std::atomic<bool> warningUp{false};

// Xft.dpi from the X server's resources, as the desktop set it; 0 elsewhere.
int XftDpi() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || std::strcmp(driver, "x11") != 0) return 0;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 0;
  const int dpi = XftDpiFrom(XResourceManagerString(display));
  XCloseDisplay(display);
  return dpi;
}

}  // namespace

uint32_t VirtualKeyFor(SDL_Keycode key, Uint16 mod) {
  // With NumLock off the keypad's 8, 4, 6 and 2 are its arrows.
  if ((mod & KMOD_NUM) == 0) {
    switch (key) {
      case SDLK_KP_8:
        return kVkUp;
      case SDLK_KP_4:
        return kVkLeft;
      case SDLK_KP_6:
        return kVkRight;
      case SDLK_KP_2:
        return kVkDown;
      default:
        break;
    }
  }
  switch (key) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return kVkReturn;
    case SDLK_ESCAPE:
      return kVkEscape;
    case SDLK_SPACE:
      return kVkSpace;
    case SDLK_LEFT:
      return kVkLeft;
    case SDLK_UP:
      return kVkUp;
    case SDLK_RIGHT:
      return kVkRight;
    case SDLK_DOWN:
      return kVkDown;
    default:
      break;
  }
  if (key >= SDLK_a && key <= SDLK_z) return static_cast<uint32_t>('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return static_cast<uint32_t>(key);
  if (key >= SDLK_F1 && key <= SDLK_F12) return static_cast<uint32_t>(112 + (key - SDLK_F1));
  return 0;
}

Uint32 SdlWindowHost::WaveEventType() {
  static const Uint32 type = SDL_RegisterEvents(1);
  return type;
}

SdlWindowHost::SdlWindowHost(RasterCanvas& canvas) : canvas_(canvas) {}

SdlWindowHost::~SdlWindowHost() {
  if (timer_ != 0) SDL_RemoveTimer(timer_);
  if (window_) SDL_DestroyWindow(window_);
}

bool SdlWindowHost::CreateMainWindow(const std::string& title, int width, int height,
                                     Handler handler) {
  // SDL keeps the screen awake for any window unless told otherwise; a
  // night programme lets the bedroom go dark.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  HandleEndSignals();
  int initialised;
  {
    QuietStderr quiet;
    initialised = SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS);
  }
  if (initialised != 0) {
    std::fprintf(stderr,
                 "velmora: cannot open a window (%s); velmora-render writes a night to a file "
                 "without a display\n",
                 SDL_GetError());
    return false;
  }
  XSetIOErrorHandler(&OnDisplayLost);
  // Without a display SDL falls back to its invisible drivers; unless asked
  // for by name, that is no window for a user.
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
      !(asked && *asked)) {
    const char* display = SDL_getenv("DISPLAY");
    const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
    std::string why = "no display (DISPLAY is not set)";
    if (display && *display) {
      why = std::string("cannot connect to the display '") + display + "'";
    } else if (wayland && *wayland) {
      why = std::string("cannot connect to the Wayland display '") + wayland + "'";
    }
    std::fprintf(stderr,
                 "velmora: cannot open a window: %s; velmora-render writes a night to a file "
                 "without a display\n",
                 why.c_str());
    return false;
  }
  std::string warning;
  Uint32 flags = SDL_WINDOW_HIDDEN;
  if (driver && std::strcmp(driver, "wayland") == 0) {
    // Wayland sizes are logical: the compositor's output scale applies on
    // top, and with a high-DPI window SDL draws the picture into a buffer of
    // that scale pixel by pixel. VELMORA_SCALE enlarges it further.
    scale_ = DisplayScale(SDL_getenv("VELMORA_SCALE"), nullptr, 0, warning);
    flags |= SDL_WINDOW_ALLOW_HIGHDPI;
  } else {
    // On X11 the window's pixels are copied straight to its surface; no
    // OpenGL renderer (and its memory and threads) is wanted for that. SDL's
    // Wayland back-end has no such surface and needs its renderer.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    scale_ = DisplayScale(SDL_getenv("VELMORA_SCALE"), SDL_getenv("GDK_SCALE"), XftDpi(), warning);
  }
  if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
  SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, "1");
  window_ = SDL_CreateWindow(title.c_str(), 0, 0, width * scale_, height * scale_, flags);
  if (!window_) {
    std::fprintf(stderr,
                 "velmora: cannot create the window (%s); velmora-render writes a night to a "
                 "file without a display\n",
                 SDL_GetError());
    return false;
  }
  handler_ = std::move(handler);
  // Start-up runs inside creation, as the creation message does.
  if (handler_({WindowEvent::kCreate}) == -1) {
    SDL_DestroyWindow(window_);
    window_ = nullptr;
    return false;
  }
  return true;
}

void SdlWindowHost::Show() {
  SDL_ShowWindow(window_);
  Dispatch({WindowEvent::kPaint});
}

void SdlWindowHost::Dispatch(const WindowMessage& message) {
  if (!handler_) return;
  handler_(message);
  DefaultProcessing(message);
  if (message.event == WindowEvent::kPaint) Present();
}

void SdlWindowHost::Present() {
  if (!window_) return;
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  const Raster& pixels = canvas_.Window();
  // A surface smaller than the picture (none yet, or one the window
  // manager shrank) is left alone rather than written past its end.
  if (!surface || surface->w < pixels.Width() * scale_ || surface->h < pixels.Height() * scale_) {
    return;
  }
  if (scale_ == 1) {
    SDL_ConvertPixels(pixels.Width(), pixels.Height(), SDL_PIXELFORMAT_RGB888,
                      pixels.Pixels().data(), pixels.Width() * 4, surface->format->format,
                      surface->pixels, surface->pitch);
  } else {
    const std::vector<uint32_t> scaled =
        ScalePixels(pixels.Pixels(), pixels.Width(), pixels.Height(), scale_);
    SDL_ConvertPixels(pixels.Width() * scale_, pixels.Height() * scale_, SDL_PIXELFORMAT_RGB888,
                      scaled.data(), pixels.Width() * scale_ * 4, surface->format->format,
                      surface->pixels, surface->pitch);
  }
  SDL_UpdateWindowSurface(window_);
}

void SdlWindowHost::Invalidate() {
  if (paintPending_) return;
  SDL_Event event{};
  event.type = HostEventType();
  event.user.code = kPaintEvent;
  // Not queued: the next invalidation asks again.
  paintPending_ = SDL_PushEvent(&event) == 1;
}

void SdlWindowHost::StartTimer(uint32_t id, int periodMs) {
  StopTimer(id);
  timerId_ = id;
  timer_ = SDL_AddTimer(static_cast<Uint32>(periodMs), &TimerCallback, nullptr);
}

void SdlWindowHost::StopTimer(uint32_t) {
  if (timer_ != 0) SDL_RemoveTimer(timer_);
  timer_ = 0;
}

namespace {
// The box's text on stderr, on one line, for a desktop where no box can show.
void SayOnStderr(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "velmora: %s: %s\n", caption.c_str(), OneLine(text).c_str());
  std::fflush(stderr);
}
}  // namespace

void SdlWindowHost::ShowMessageBox(const std::string& caption, const std::string& text,
                                   BoxIcon icon) {
  Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
  if (icon == BoxIcon::kWarning) flags = SDL_MESSAGEBOX_WARNING;
  if (icon == BoxIcon::kError) flags = SDL_MESSAGEBOX_ERROR;
  SayOnStderr(caption, text);
  // Shown on the window thread (which owns the window), without a parent: it
  // is the start-up's, before the window is shown.
  SDL_ShowSimpleMessageBox(flags, caption.c_str(), WrapLines(text).c_str(), nullptr);
}

void SdlWindowHost::ShowWarningBox(const std::string& caption, const std::string& text) {
  SayOnStderr(caption, text);
  if (warningUp.exchange(true)) return;
  // SDL's box blocks the thread that shows it until it is closed; on the
  // window thread that would hold back the sound device's blocks and stop
  // the sound. So it has a thread of its own, and no parent (SDL wants a
  // box with a parent on the parent's thread; the window may go before the
  // box does). The thread ends when the box is closed, or with the process
  // (which ends without joining it).
  std::thread([caption, text = WrapLines(text)] {
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_WARNING, caption.c_str(), text.c_str(), nullptr);
    warningUp = false;
  }).detach();
}

void SdlWindowHost::PostQuit(int code) {
  if (!quit_) quitCode_ = code;
  quit_ = true;
}

void SdlWindowHost::DefaultProcessing(const WindowMessage& message) {
  // A close request destroys the window, which brings kDestroy.
  if (message.event == WindowEvent::kClose && window_) {
    SDL_DestroyWindow(window_);
    window_ = nullptr;
    if (handler_) handler_({WindowEvent::kDestroy});
  }
}

void SdlWindowHost::HandleEvent(const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT:
      if (window_) Dispatch({WindowEvent::kClose});
      break;
    case SDL_WINDOWEVENT:
      switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          Dispatch({WindowEvent::kClose});
          break;
        case SDL_WINDOWEVENT_EXPOSED:
          Dispatch({WindowEvent::kPaint});
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          Dispatch({WindowEvent::kSetFocus});
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          Dispatch({WindowEvent::kKillFocus});
          break;
        default:
          break;
      }
      break;
    case SDL_KEYDOWN: {
      const uint32_t key = VirtualKeyFor(event.key.keysym.sym, event.key.keysym.mod);
      const bool alt = (event.key.keysym.mod & KMOD_ALT) != 0;
      // Alt+F4 closes the window, as the platform's default handling does.
      if (alt && event.key.keysym.sym == SDLK_F4) {
        Dispatch({WindowEvent::kSysKeyDown, 115});
        Dispatch({WindowEvent::kClose});
        break;
      }
      if (key != 0) Dispatch({alt ? WindowEvent::kSysKeyDown : WindowEvent::kKeyDown, key});
      break;
    }
    case SDL_MOUSEMOTION:
      Dispatch({WindowEvent::kMouseMove});
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_LEFT) Dispatch({WindowEvent::kLButtonDown});
      if (event.button.button == SDL_BUTTON_RIGHT) Dispatch({WindowEvent::kRButtonDown});
      break;
    default:
      if (event.type == HostEventType()) {
        if (event.user.code == kPaintEvent) {
          paintPending_ = false;
          if (window_) Dispatch({WindowEvent::kPaint});
        } else if (event.user.code == kTimerEvent && timer_ != 0) {
          Dispatch({WindowEvent::kTimer, timerId_});
        }
      }
      // The wave device's wake-up needs nothing more: the loop services the
      // device after every event.
      break;
    case SDL_AUDIODEVICEADDED:
    case SDL_AUDIODEVICEREMOVED:
      if (audio_) audio_->OnAudioEvent(event);
      break;
  }
}

int SdlWindowHost::RunMessageLoop() {
  SDL_Event event;
  while (!quit_) {
    // Woken at least twice a second, so that a display that goes away (which
    // sends nothing) is noticed by the next read of its connection, and a
    // sound device whose wake-up was lost is still serviced.
    int waitMs = 500;
    if (audio_) {
      const int wanted = audio_->Service();
      if (wanted >= 0) waitMs = std::min(waitMs, wanted);
    }
    if (quit_) break;
    if (SDL_WaitEventTimeout(&event, waitMs)) HandleEvent(event);
  }
  return quitCode_;
}

}  // namespace velmora
