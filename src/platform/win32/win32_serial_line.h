// A serial line on Windows: a COM port (COM3, or \\.\COM12) opened with
// CreateFileA and set with SetCommState, written with blocking WriteFile.
// While it is open the system timer ticks every millisecond, so the pacing's
// waits are as short as they need to be.
//
// Thread safety: as the SerialLine service.
#pragma once

#include "platform/serial_line.h"

namespace velmora {

// "COM3" → "\\.\COM3", the form every port number takes; a name that already
// starts with "\\" is kept as it is.
std::string Win32DevicePath(const std::string& device);

class Win32SerialLine final : public SerialLine {
 public:
  ~Win32SerialLine() override { Close(); }

  std::string Open(const std::string& device, uint32_t baud) override;
  bool Send(const uint8_t* bytes, size_t count, std::string& why) override;
  void Close() override;
  int64_t NowNanos() override;
  void WaitNanos(int64_t nanoseconds) override;

 private:
  void* handle_ = nullptr;   // the port's HANDLE, null when closed
  bool finerTimer_ = false;  // the system timer set to 1 ms while the port is open
};

}  // namespace velmora
