#include "platform/serial/serial_lights.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace velmora {
namespace {

constexpr uint32_t kLowestBaud = 50;
constexpr uint32_t kHighestBaud = 4000000;

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

SerialLights::SerialLights(SerialLine& line, const char* setting, Sender sender)
    : line_(line), sender_(sender) {
  if (setting == nullptr || *setting == '\0') return;
  chosen_ = true;
  text_ = setting;
  if (auto parsed = ParseLightLine(text_, why_)) setting_ = std::move(*parsed);
}

SerialLights::~SerialLights() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  if (open_ && !lost_) line_.Close();
}

PortAccessResult SerialLights::SetUpPortAccess(uint16_t base) {
  base_ = base;
  if (setting_.device.empty()) return PortAccessResult::kFailed;  // the setting was bad
  std::lock_guard lock(mutex_);
  if (open_) return PortAccessResult::kNoDriverNeeded;
  why_ = line_.Open(setting_.device, setting_.baud);
  if (!why_.empty()) return PortAccessResult::kFailed;
  open_ = true;
  byteNanos_ = 10'000'000'000 / setting_.baud;  // a start bit, eight data bits, a stop bit
  lastSent_ = line_.NowNanos();
  if (sender_ == Sender::kOwnThread) thread_ = std::thread([this] { SenderLoop(); });
  return PortAccessResult::kNoDriverNeeded;
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
  int64_t now = -1;           // the clock is read only when needed
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    last_ = value;
    if (lost_) return;  // dropped: the box shows the present value when it is back
    if (pending_.empty()) {
      // The first byte since the sender took the last: it goes out within a
      // millisecond, so the sender is woken unless it looks by then anyway.
      now = line_.NowNanos();
      wake = senderDue_ > now + kLineCallNanos && WakeSender();
    }
    pending_.push_back(value);
  }
  if (wake) wake_.notify_one();
  Pace(now);
}

bool SerialLights::WakeSender() {
  woken_ = true;
  ++wakes_;
  return true;
}

uint64_t SerialLights::Wakes() {
  std::lock_guard lock(mutex_);
  return wakes_;
}

void SerialLights::Pace(int64_t now) {
  // The clock is looked at about every half millisecond of bytes, not for
  // each: the bytes since the last look count from that look.
  ++unpaced_;
  if (now < 0 && unpaced_ * byteNanos_ < kLineCallNanos / 2) return;
  if (now < 0) now = line_.NowNanos();
  lineFreeAt_ = std::max(lineFreeAt_, pacedAt_) + unpaced_ * byteNanos_;
  unpaced_ = 0;
  pacedAt_ = now;
  if (lineFreeAt_ - now <= kLineLeadHighNanos) return;
  const int64_t pause = lineFreeAt_ - now - kLineLeadLowNanos;
  bool wake = false;
  {
    // Ahead of the wire: the sender takes what has gathered as soon as the
    // line may be called (woken unless it looks then anyway), and looks
    // again a millisecond after the writer is due back.
    std::lock_guard lock(mutex_);
    writerBackAt_ = now + pause;
    wake =
        !pending_.empty() && senderDue_ > std::max(now, lastCall_ + kLineCallNanos) && WakeSender();
  }
  if (wake) wake_.notify_one();
  line_.WaitNanos(pause);
  pacedAt_ = now + pause;
}

int64_t SerialLights::NextStep(int64_t now) const {
  if (lost_) return nextTry_;
  if (!pending_.empty()) return lastCall_ + kLineCallNanos;
  int64_t next = lastSent_ + kKeepAliveNanos;
  if (writerBackAt_ + kLineCallNanos > now) {
    // A millisecond after a pausing writer is due back: its next bytes are
    // handed over when it pauses again, but a writer that wrote a few and
    // stopped (the light thread's end) wakes nobody.
    next = std::min(next, writerBackAt_ + kLineCallNanos);
  } else if (lastCall_ + kLineCallNanos > now) {
    // Once more after a call, so the bytes of a writer that goes on at the
    // line's pace need not wake the sender.
    next = std::min(next, lastCall_ + kLineCallNanos);
  }
  return next;
}

int64_t SerialLights::SendDue(int64_t now) {
  std::unique_lock lock(mutex_);
  woken_ = false;
  if (!open_) return senderDue_ = now + kKeepAliveNanos;
  if (lost_ && now >= nextTry_) {
    lock.unlock();
    const bool back = line_.Open(setting_.device, setting_.baud).empty();
    lock.lock();
    if (back) {
      std::fprintf(stderr, "velmora: the light box on %s is back\n", setting_.device.c_str());
      lost_ = false;
      // The value of the moment, at once.
      if (last_ >= 0) pending_.assign(1, static_cast<uint8_t>(last_));
      lastCall_ = INT64_MIN / 2;
    } else {
      nextTry_ = now + kReopenNanos;
    }
  }
  batch_.clear();
  if (lost_) {
    // Nothing goes out until the box is back.
  } else if (!pending_.empty() && now - lastCall_ >= kLineCallNanos) {
    batch_.swap(pending_);
  } else if (pending_.empty() && now - lastSent_ >= kKeepAliveNanos) {
    // Quiet for a second: the same again (nothing, before the first write).
    if (last_ >= 0) batch_.push_back(static_cast<uint8_t>(last_));
    lastSent_ = now;
  }
  if (!batch_.empty()) {
    lastCall_ = now;
    lastSent_ = now;
    lock.unlock();
    std::string why;
    const bool sent = line_.Send(batch_.data(), batch_.size(), why);
    lock.lock();
    if (!sent) Lost(why, now);
  }
  return senderDue_ = NextStep(now);
}

void SerialLights::SenderLoop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    const int64_t next = SendDue(line_.NowNanos());
    lock.lock();
    const int64_t wait = std::max<int64_t>(0, next - line_.NowNanos());
    wake_.wait_for(lock, std::chrono::nanoseconds(wait), [&] { return stop_ || woken_; });
  }
}

void SerialLights::Drain(int64_t nanoseconds) {
  const int64_t end = line_.NowNanos() + nanoseconds;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty() || lost_ || !open_) return;
    }
    if (line_.NowNanos() >= end) return;
    line_.WaitNanos(200'000);
  }
}

void SerialLights::Lost(const std::string& why, int64_t now) {
  std::fprintf(stderr, "velmora: the light box on %s is gone (%s); trying again every second\n",
               setting_.device.c_str(), why.c_str());
  line_.Close();
  lost_ = true;
  pending_.clear();
  nextTry_ = now + kReopenNanos;
}

}  // namespace velmora
