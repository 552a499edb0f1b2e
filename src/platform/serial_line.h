// Serial-line service: one device, raw 8N1, written a run of bytes at a time.
//
// Thread safety: Open, Close and Send on one thread at a time; NowNanos and
// WaitNanos from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

// How long a send of `count` bytes may take: half a second and a
// millisecond a byte. A line slower than that has a box that is gone.
inline constexpr int64_t SendDeadlineNanos(size_t count) {
  return (500 + static_cast<int64_t>(count)) * 1'000'000;
}

class SerialLine {
 public:
  virtual ~SerialLine() = default;
  // Opens `device` raw, eight data bits, no parity, one stop bit, at `baud`.
  // Empty when the line is ready; otherwise the system's reason.
  virtual std::string Open(const std::string& device, uint32_t baud) = 0;
  // Sends `count` bytes (all of them) in one call, waiting while the line is
  // busy, but no longer than SendDeadlineNanos(count). False, with the
  // system's reason, when the device is gone or took them too slowly.
  virtual bool Send(const uint8_t* bytes, size_t count, std::string& why) = 0;
  virtual void Close() = 0;

  // A steady clock and a wait on it, for pacing the bytes at the line's
  // speed. Nanoseconds.
  virtual int64_t NowNanos() = 0;
  virtual void WaitNanos(int64_t nanoseconds) = 0;
};

}  // namespace velmora
