// A serial line on Linux: a tty device (/dev/ttyACM0, /dev/ttyUSB0, a pty)
// set raw with termios, written without blocking: a write that the line has
// not taken by its deadline fails, and the box is then taken for gone.
//
// Thread safety: as the SerialLine service.
#pragma once

#include "platform/serial_line.h"

namespace velmora {

class LinuxSerialLine final : public SerialLine {
 public:
  ~LinuxSerialLine() override { Close(); }

  std::string Open(const std::string& device, uint32_t baud) override;
  bool Send(const uint8_t* bytes, size_t count, std::string& why) override;
  void Close() override;
  int64_t NowNanos() override;
  void WaitNanos(int64_t nanoseconds) override;

 private:
  int fd_ = -1;
};

}  // namespace velmora
