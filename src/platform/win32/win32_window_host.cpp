#include "platform/win32/win32_window_host.h"

#include <cstdio>
#include <cstdlib>

#include "platform/box_text.h"
#include "platform/scale/display_scale.h"
#include "platform/win32/gdi_canvas.h"

namespace velmora {
namespace {

constexpr const char* kClassName = "Velmora";

// One line on stderr (seen when started from a console or under Wine).
void SayOnStderr(const char* what, const std::string& text) {
  std::fprintf(stderr, "velmora: %s: %s\n", what, OneLine(text).c_str());
  std::fflush(stderr);
}

// The system's dots per inch: Windows 10's GetDpiForSystem where there is
// one (looked up, so that the program still starts on Windows 7), else the
// screen's.
int SystemDpi() {
  using GetDpiForSystemFunction = UINT(WINAPI*)();
  static const auto getDpiForSystem = reinterpret_cast<GetDpiForSystemFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForSystem")));
  if (getDpiForSystem != nullptr) return static_cast<int>(getDpiForSystem());
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// The dots per inch of the monitor the window is on (Windows 10's
// GetDpiForWindow), else the system's.
int WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  const int dpi = getDpiForWindow != nullptr ? static_cast<int>(getDpiForWindow(window)) : 0;
  return dpi > 0 ? dpi : SystemDpi();
}

}  // namespace

bool TranslateWindowMessage(UINT message, WPARAM wParam, LPARAM, WindowMessage& out) {
  switch (message) {
    case WM_CREATE:
    case WM_DESTROY:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_PAINT:
    case WM_CLOSE:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      out = {static_cast<WindowEvent>(message)};
      return true;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_TIMER:
      // The virtual-key code, or the timer's identifier.
      out = {static_cast<WindowEvent>(message), static_cast<uint32_t>(wParam)};
      return true;
    default:
      return false;
  }
}

UINT MessageBoxStyle(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kWarning:
      return MB_OK | MB_ICONWARNING;
    case BoxIcon::kError:
      return MB_OK | MB_ICONERROR;
    case BoxIcon::kInformation:
      return MB_OK | MB_ICONINFORMATION;
    case BoxIcon::kNone:
      break;
  }
  return MB_OK;
}

Win32WindowHost::Win32WindowHost(HINSTANCE instance, GdiCanvas& canvas)
    : instance_(instance), canvas_(canvas) {}

bool Win32WindowHost::CreateMainWindow(const std::string& title, int width, int height,
                                       Handler handler) {
  handler_ = std::move(handler);
  WNDCLASSA windowClass{};
  windowClass.style = 0;
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = instance_;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = kClassName;
  RegisterClassA(&windowClass);  // a class left from before serves as well

  // The scale: VELMORA_SCALE, else the display's dots per inch (the
  // system's now, the window's monitor's once it is there).
  std::string warning;
  fixedScale_ = ScaleSetting(std::getenv("VELMORA_SCALE"), warning);
  if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
  width_ = width;
  height_ = height;
  const int systemDpi = SystemDpi();
  canvas_.SetSystemDpi(systemDpi);
  canvas_.SetScale(fixedScale_ != 0 ? fixedScale_ : ScaleForDpi(systemDpi));

  // An overlapped window with a system menu and a minimise box: a caption,
  // no maximise box, no sizing border, its outer size the picture's times
  // the scale. Start-up runs inside this call.
  refused_ = false;
  const int scale = canvas_.Scale();
  const HWND window =
      CreateWindowExA(0, kClassName, title.c_str(), WS_SYSMENU | WS_MINIMIZEBOX, 0, 0,
                      width * scale, height * scale, nullptr, nullptr, instance_, this);
  if (window == nullptr && !refused_) {
    std::fprintf(stderr, "velmora: cannot create the window (system error %lu)\n",
                 static_cast<unsigned long>(GetLastError()));
  }
  if (window != nullptr && fixedScale_ == 0) Rescale(window, WindowDpi(window), nullptr);
  return window != nullptr;
}

void Win32WindowHost::Rescale(HWND window, int dpi, const RECT* suggested) {
  const int scale = ScaleForDpi(dpi);
  if (scale == canvas_.Scale() && suggested == nullptr) return;
  canvas_.SetScale(scale);
  // Windows suggests the window scaled by the ratio of the two densities;
  // its place is taken, its size is the picture's times the whole factor.
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  if (suggested == nullptr) flags |= SWP_NOMOVE;
  SetWindowPos(window, nullptr, suggested ? suggested->left : 0, suggested ? suggested->top : 0,
               width_ * scale, height_ * scale, flags);
  InvalidateRect(window, nullptr, FALSE);
}

LRESULT CALLBACK Win32WindowHost::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* host = reinterpret_cast<Win32WindowHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (host == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return host->Handle(window, message, wParam, lParam);
}

LRESULT Win32WindowHost::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    window_ = window;
    canvas_.SetWindow(window);
  }
  if (message == MM_WOM_DONE || message == MM_WOM_CLOSE) {
    if (waveSink_) waveSink_->OnWaveMessage(message, wParam, lParam);
  } else if (message == WM_TIMER && wParam == kWaveTimerId) {
    if (waveSink_) waveSink_->OnWaveTimer();
  } else if (message == WM_DPICHANGED) {
    // Moved to a monitor of another density.
    if (fixedScale_ == 0) Rescale(window, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
  } else if (WindowMessage m; handler_ && TranslateWindowMessage(message, wParam, lParam, m)) {
    if (handler_(m) == -1 && message == WM_CREATE) {
      // Start-up stopped: the window goes again, and nothing more reaches the
      // handler from it.
      refused_ = true;
      handler_ = nullptr;
      DefWindowProcA(window, message, wParam, lParam);
      return -1;
    }
  }
  const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    window_ = nullptr;
    canvas_.SetWindow(nullptr);
  }
  return result;
}

void Win32WindowHost::Show() {
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  UpdateWindow(window_);
}

int Win32WindowHost::RunMessageLoop() {
  MSG message{};
  // GetMessageA gives 0 for the quit message; its error return (-1) cannot
  // happen for a valid message record and no window filter, and would end
  // the loop rather than spin.
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

void Win32WindowHost::Invalidate() {
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

void Win32WindowHost::StartTimer(uint32_t id, int periodMs) {
  SetTimer(window_, id, static_cast<UINT>(periodMs), nullptr);
}

void Win32WindowHost::StartWaveTimer() {
  if (window_) SetTimer(window_, kWaveTimerId, 1000, nullptr);
}

void Win32WindowHost::StopTimer(uint32_t id) {
  KillTimer(window_, id);
}

void Win32WindowHost::ShowMessageBox(const std::string& caption, const std::string& text,
                                     BoxIcon icon) {
  SayOnStderr(caption.c_str(), text);
  // The warning of a running window is owned by it; the driver's boxes come
  // before there is a window to own them.
  const HWND owner = icon == BoxIcon::kWarning ? window_ : nullptr;
  MessageBoxA(owner, text.c_str(), caption.c_str(), MessageBoxStyle(icon));
}

void Win32WindowHost::PostQuit(int code) {
  PostQuitMessage(code);
}

}  // namespace velmora
