// Serial-line service: one device, raw 8N1, written a byte at a time.
//
// Thread safety: Open and Close on one thread at a time; Send from the one
// thread that writes the lights.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

class SerialLine {
 public:
  virtual ~SerialLine() = default;
  // Opens `device` raw, eight data bits, no parity, one stop bit, at `baud`.
  // Empty when the line is ready; otherwise the system's reason.
  virtual std::string Open(const std::string& device, uint32_t baud) = 0;
  // Sends one byte, waiting while the line is busy (the line paces the
  // caller). False, with the system's reason, when the device is gone.
  virtual bool Send(uint8_t byte, std::string& why) = 0;
  virtual void Close() = 0;

  // A steady clock and a wait on it, for pacing the bytes at the line's
  // speed. Nanoseconds.
  virtual int64_t NowNanos() = 0;
  virtual void WaitNanos(int64_t nanoseconds) = 0;
};

}  // namespace velmora
