// A serial line on Windows: a COM port (COM3, or \\.\COM12) opened with
// CreateFileA and set with SetCommState, written with blocking WriteFile.
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
  bool Send(uint8_t byte, std::string& why) override;
  void Close() override;

 private:
  void* handle_ = nullptr;  // the port's HANDLE, null when closed
};

}  // namespace velmora
