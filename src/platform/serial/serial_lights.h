// The lights through a serial line: a small board on USB stands in for the
// parallel port's eight data lines. Chosen by VELMORA_LIGHTS=DEVICE[@BAUD].
//
// Every write of the data register becomes one byte on the line, in order;
// the control register has no line and its write is not sent. The bytes are
// paced at the line's speed (ten bits a byte), a few milliseconds ahead of
// the wire at most: the system's buffers would otherwise fill at once, and
// the light thread's bytes would carry the envelope of the moment each
// buffer had room, not of the moment they light the lamps. Access set-up
// opens the device and answers "no driver needed", or "failed" with the
// device and the system's reason. A device that goes away during the night
// (a pulled cable) is said once on stderr and opened again every second, so
// the box picks up where the night is when it is back.
//
// Thread safety: as the port services: set-up and the failure report on the
// window thread before the workers start; PortWrite from the one thread that
// writes the port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/port.h"
#include "platform/port_access.h"
#include "platform/serial_line.h"

namespace velmora {

inline constexpr uint32_t kLightLineDefaultBaud = 1000000;
// How far ahead of the wire the bytes may run: past the high mark the writer
// waits until it is back at the low one.
inline constexpr int64_t kLineLeadHighNanos = 4'000'000;
inline constexpr int64_t kLineLeadLowNanos = 2'000'000;

struct LightLineSetting {
  std::string device;
  uint32_t baud = kLightLineDefaultBaud;
};

// Reads "DEVICE" or "DEVICE@BAUD" (BAUD a whole number, 50 to 4,000,000).
// Nothing, with the reason in `why`, when the text is not such.
std::optional<LightLineSetting> ParseLightLine(std::string_view text, std::string& why);

class SerialLights final : public Port, public PortAccess {
 public:
  // `setting` is VELMORA_LIGHTS's value; null or empty leaves the lights on
  // the parallel port (Chosen() is false).
  SerialLights(SerialLine& line, Clock& clock, const char* setting);
  ~SerialLights() override;

  bool Chosen() const { return chosen_; }

  PortAccessResult SetUpPortAccess(uint16_t base) override;
  void ReportFailure(WindowHost& host) override;
  void PortWrite(uint16_t port, uint8_t value) override;

 private:
  void Lost(const std::string& why);
  void TryAgain();
  void Pace();

  SerialLine& line_;
  Clock& clock_;
  bool chosen_ = false;
  std::string text_;  // the setting as given, for messages
  LightLineSetting setting_;
  std::string why_;  // why set-up failed
  uint16_t base_ = 0;
  bool open_ = false;
  bool lost_ = false;       // opened once, then gone: writes pace on the clock
  int64_t byteNanos_ = 0;   // one byte's time on the line
  int64_t lineFreeAt_ = 0;  // when the bytes handed over so far are all out
  int32_t lastTry_ = 0;     // the second of the last attempt to open it again
};

}  // namespace velmora
