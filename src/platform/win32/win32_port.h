// Win32 port output: one byte to an I/O address with the processor's `out`
// instruction. It may be used only once port access is granted (the giveio
// driver on the NT family; always on the older family).
//
// Thread safety: any thread may call.
#pragma once

#include <cstdint>

#include "platform/port.h"

namespace velmora {

class Win32Port final : public Port {
 public:
  void PortWrite(uint16_t port, uint8_t value) override {
#if defined(__i386__) || defined(__x86_64__)
    __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(port));
#else
    (void)port;
    (void)value;
#endif
  }
};

}  // namespace velmora
