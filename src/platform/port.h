// Port service: one byte out to a 16-bit I/O address.
//
// Thread safety: the generator thread and the light thread may call.
#pragma once

#include <cstdint>

namespace velmora {

class Port {
 public:
  virtual ~Port() = default;
  virtual void PortWrite(uint16_t port, uint8_t value) = 0;
};

}  // namespace velmora
