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
    : line_(line), sender_(line, sender == Sender::kOwnThread) {
  if (setting == nullptr || *setting == '\0') return;
  chosen_ = true;
  text_ = setting;
  if (auto parsed = ParseLightLine(text_, why_)) setting_ = std::move(*parsed);
}

PortAccessResult SerialLights::SetUpPortAccess(uint16_t base) {
  base_ = base;
  if (setting_.device.empty()) return PortAccessResult::kFailed;  // the setting was bad
  if (opened_) return PortAccessResult::kNoDriverNeeded;
  why_ = line_.Open(setting_.device, setting_.baud);
  if (!why_.empty()) return PortAccessResult::kFailed;
  opened_ = true;
  pacing_.SetByteNanos(10'000'000'000 / setting_.baud);  // start bit, eight data bits, stop bit
  sender_.Start(setting_);
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
  int64_t now = -1;
  if (!sender_.Gather(value, now)) return;
  const LinePacing::Pause pause = pacing_.Count(line_, now);
  if (pause.nanos <= 0) return;
  sender_.WriterPauses(pause.at, pause.at + pause.nanos);
  line_.WaitNanos(pause.nanos);
  pacing_.Paused(pause);
}

LinePacing::Pause LinePacing::Count(SerialLine& line, int64_t now) {
  ++unpaced_;
  if (now < 0 && unpaced_ * byteNanos_ < kLineCallNanos / 2) return {};
  if (now < 0) now = line.NowNanos();
  lineFreeAt_ = std::max(lineFreeAt_, pacedAt_) + unpaced_ * byteNanos_;
  unpaced_ = 0;
  pacedAt_ = now;
  if (lineFreeAt_ - now <= kLineLeadHighNanos) return {};
  // Ahead of the wire: back to the low mark.
  return {now, lineFreeAt_ - now - kLineLeadLowNanos};
}

LineSender::~LineSender() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  if (open_ && !lost_) line_.Close();
}

void LineSender::Start(const LightLineSetting& setting) {
  std::lock_guard lock(mutex_);
  setting_ = setting;
  capacity_ = std::max<size_t>(1, setting.baud / 10);
  open_ = true;
  lastSent_ = line_.NowNanos();
  if (ownThread_) thread_ = std::thread([this] { Loop(); });
}

bool LineSender::Gather(uint8_t value, int64_t& now) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (!open_) return false;
    last_ = value;
    if (lost_) return true;  // dropped: the box shows the present value when it is back
    if (pending_.empty()) {
      // The first byte since the sender took the last: it goes out within a
      // millisecond, so the sender is woken unless it looks by then anyway.
      now = line_.NowNanos();
      wake = senderDue_ > now + kLineCallNanos && WakeSender();
    } else if (pending_.size() >= capacity_) {
      // A line that takes nothing while the sender waits on it: the older
      // half goes (the newest byte, the present value, stays).
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(capacity_ / 2));
    }
    pending_.push_back(value);
  }
  if (wake) wake_.notify_one();
  return true;
}

void LineSender::WriterPauses(int64_t now, int64_t backAt) {
  bool wake = false;
  {
    // The sender takes what has gathered as soon as the line may be called
    // (woken unless it looks then anyway), and looks again a millisecond
    // after the writer is due back.
    std::lock_guard lock(mutex_);
    writerBackAt_ = backAt;
    wake =
        !pending_.empty() && senderDue_ > std::max(now, lastCall_ + kLineCallNanos) && WakeSender();
  }
  if (wake) wake_.notify_one();
}

bool LineSender::WakeSender() {
  woken_ = true;
  ++wakes_;
  return true;
}

uint64_t LineSender::Wakes() {
  std::lock_guard lock(mutex_);
  return wakes_;
}

size_t LineSender::Gathered() {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

int64_t LineSender::NextStep(int64_t now) const {
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

int64_t LineSender::SendDue(int64_t now) {
  std::unique_lock lock(mutex_);
  woken_ = false;
  if (!open_) return senderDue_ = now + kKeepAliveNanos;
  if (lost_ && now >= nextTry_) {
    lock.unlock();
    const bool opened = line_.Open(setting_.device, setting_.baud).empty();
    lock.lock();
    if (opened) {
      lost_ = false;
      returning_ = true;
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
  bool sent = batch_.empty();
  if (!batch_.empty()) {
    lastCall_ = now;
    lastSent_ = now;
    inFlight_ = true;
    lock.unlock();
    std::string why;
    sent = line_.Send(batch_.data(), batch_.size(), why);
    const int64_t after = line_.NowNanos();
    lock.lock();
    inFlight_ = false;
    if (!sent) Lost(why, std::max(now, after));
  }
  if (sent && returning_) {
    returning_ = false;
    if (saidLost_) {
      std::fprintf(stderr, "velmora: the light box on %s is back\n", setting_.device.c_str());
    }
    saidLost_ = false;
  }
  return senderDue_ = NextStep(now);
}

void LineSender::Loop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    const int64_t next = SendDue(line_.NowNanos());
    lock.lock();
    const int64_t wait = std::max<int64_t>(0, next - line_.NowNanos());
    wake_.wait_for(lock, std::chrono::nanoseconds(wait), [&] { return stop_ || woken_; });
  }
}

void LineSender::Drain(int64_t nanoseconds, const std::function<bool()>& writerDone) {
  const int64_t end = line_.NowNanos() + nanoseconds;
  for (;;) {
    const bool written = !writerDone || writerDone();
    {
      std::lock_guard lock(mutex_);
      if (lost_ || !open_) return;
      if (written && pending_.empty() && !inFlight_) return;
    }
    if (line_.NowNanos() >= end) return;
    line_.WaitNanos(200'000);
  }
}

void LineSender::Lost(const std::string& why, int64_t now) {
  // Said once, however often a reopened box fails again before it is back.
  if (!saidLost_) {
    std::fprintf(stderr, "velmora: the light box on %s is gone (%s); trying again every second\n",
                 setting_.device.c_str(), why.c_str());
  }
  saidLost_ = true;
  returning_ = false;
  line_.Close();
  lost_ = true;
  pending_.clear();
  nextTry_ = now + kReopenNanos;
}

}  // namespace velmora
