#include "platform/win32/win32_serial_line.h"

#include <algorithm>
#include <string>

#include "platform/win32/system_reason.h"
#include "platform/win32/windows_api.h"

namespace velmora {
namespace {}  // namespace

std::string Win32DevicePath(const std::string& device) {
  if (device.rfind("\\\\", 0) == 0) return device;
  return "\\\\.\\" + device;
}

std::string Win32SerialLine::Open(const std::string& device, uint32_t baud) {
  Close();
  HANDLE port = CreateFileA(Win32DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return SystemReason(GetLastError());
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  // A batch of bytes is written in one call; one that the driver has not
  // taken after half a second and a millisecond a byte means the box is gone.
  COMMTIMEOUTS timeouts{};
  timeouts.WriteTotalTimeoutMultiplier =
      static_cast<DWORD>((SendDeadlineNanos(1) - SendDeadlineNanos(0)) / 1'000'000);
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(SendDeadlineNanos(0) / 1'000'000);
  if (!GetCommState(port, &dcb)) {
    const DWORD error = GetLastError();
    CloseHandle(port);
    return SystemReason(error);
  }
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (!SetCommState(port, &dcb) || !SetCommTimeouts(port, &timeouts)) {
    const DWORD error = GetLastError();
    CloseHandle(port);
    return SystemReason(error);
  }
  handle_ = port;
  finerTimer_ = timeBeginPeriod(1) == TIMERR_NOERROR;
  return {};
}

bool Win32SerialLine::Send(const uint8_t* bytes, size_t count, std::string& why) {
  DWORD written = 0;
  const auto size = static_cast<DWORD>(count);
  if (WriteFile(static_cast<HANDLE>(handle_), bytes, size, &written, nullptr) && written == size)
    return true;
  const DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) {
    // The write timed out: a driver that takes nothing for that long is gone.
    why = "the line took " + std::to_string(written) + " of " + std::to_string(size) + " bytes";
  } else {
    why = SystemReason(error);
  }
  return false;
}

void Win32SerialLine::Close() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  if (finerTimer_) timeEndPeriod(1);
  finerTimer_ = false;
}

int64_t Win32SerialLine::NowNanos() {
  LARGE_INTEGER now{}, frequency{};
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<int64_t>(static_cast<double>(now.QuadPart) * 1e9 /
                              static_cast<double>(frequency.QuadPart));
}

void Win32SerialLine::WaitNanos(int64_t nanoseconds) {
  // Whole milliseconds, rounded down: Sleep tends to run over, and the pacing
  // keeps a lead of two of them to spare.
  if (nanoseconds > 0) Sleep(static_cast<DWORD>(std::max<int64_t>(1, nanoseconds / 1'000'000)));
}

}  // namespace velmora
