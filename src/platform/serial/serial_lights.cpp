#include "platform/serial/serial_lights.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace velmora {
namespace {

constexpr uint32_t kLowestBaud = 50;
constexpr uint32_t kHighestBaud = 4000000;
// While the device is gone each write waits this long instead, so a light
// thread does not spin on a missing line.
constexpr int32_t kLostWriteMs = 1;

}  // namespace

std::optional<LightLineSetting> ParseLightLine(std::string_view text, std::string& why) {
  LightLineSetting setting;
  const size_t at = text.rfind('@');
  setting.device = std::string(text.substr(0, at));
  if (setting.device.empty()) {
    why = "no device named";
    return std::nullopt;
  }
  if (at == std::string_view::npos) return setting;
  const std::string_view digits = text.substr(at + 1);
  uint64_t baud = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), baud);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      baud < kLowestBaud || baud > kHighestBaud) {
    why = "the speed '" + std::string(digits) + "' is not a whole number of baud from " +
          std::to_string(kLowestBaud) + " to " + std::to_string(kHighestBaud);
    return std::nullopt;
  }
  setting.baud = static_cast<uint32_t>(baud);
  return setting;
}

SerialLights::SerialLights(SerialLine& line, Clock& clock, const char* setting)
    : line_(line), clock_(clock) {
  if (setting == nullptr || *setting == '\0') return;
  chosen_ = true;
  text_ = setting;
  if (auto parsed = ParseLightLine(text_, why_)) setting_ = std::move(*parsed);
}

SerialLights::~SerialLights() {
  if (open_) line_.Close();
}

PortAccessResult SerialLights::SetUpPortAccess(uint16_t base) {
  base_ = base;
  if (setting_.device.empty()) return PortAccessResult::kFailed;  // the setting was bad
  if (open_) return PortAccessResult::kNoDriverNeeded;
  why_ = line_.Open(setting_.device, setting_.baud);
  open_ = why_.empty();
  byteNanos_ = 10'000'000'000 / setting_.baud;  // a start bit, eight data bits, a stop bit
  return open_ ? PortAccessResult::kNoDriverNeeded : PortAccessResult::kFailed;
}

void SerialLights::ReportFailure(WindowHost& host) {
  const std::string text =
      setting_.device.empty()
          ? "Can't use the light box VELMORA_LIGHTS=" + text_ + ".\n" + why_ +
                " (give DEVICE or DEVICE@BAUD)"
          : "Can't use the light box on " + setting_.device + ".\n" + setting_.device + ": " + why_;
  host.ShowMessageBox("ERROR", text, BoxIcon::kNone);
}

void SerialLights::PortWrite(uint16_t port, uint8_t value) {
  if (port != base_) return;  // the control register has no line
  if (lost_) TryAgain();
  if (lost_) {
    clock_.Sleep(kLostWriteMs);
    return;
  }
  if (!open_) return;
  std::string why;
  if (!line_.Send(value, why)) {
    Lost(why);
    return;
  }
  Pace();
}

void SerialLights::Pace() {
  const int64_t now = line_.NowNanos();
  lineFreeAt_ = std::max(lineFreeAt_, now) + byteNanos_;
  if (lineFreeAt_ - now > kLineLeadHighNanos)
    line_.WaitNanos(lineFreeAt_ - now - kLineLeadLowNanos);
}

void SerialLights::Lost(const std::string& why) {
  std::fprintf(stderr, "velmora: the light box on %s is gone (%s); trying again every second\n",
               setting_.device.c_str(), why.c_str());
  line_.Close();
  open_ = false;
  lost_ = true;
  lastTry_ = clock_.NowSeconds();
}

void SerialLights::TryAgain() {
  const int32_t now = clock_.NowSeconds();
  if (now == lastTry_) return;
  lastTry_ = now;
  if (!line_.Open(setting_.device, setting_.baud).empty()) return;
  std::fprintf(stderr, "velmora: the light box on %s is back\n", setting_.device.c_str());
  open_ = true;
  lost_ = false;
}

}  // namespace velmora
