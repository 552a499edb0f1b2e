// The lights through a serial line: a small board on USB stands in for the
// parallel port's eight data lines. Chosen by VELMORA_LIGHTS=DEVICE[@BAUD].
//
// Every write of the data register becomes one byte on the line, in order;
// the control register has no line and its write is not sent. The bytes are
// paced at the line's speed (ten bits a byte), a few milliseconds ahead of
// the wire at most: the system's buffers would otherwise fill at once, and
// the light thread's bytes would carry the envelope of the moment each
// buffer had room, not of the moment they light the lamps.
//
// The writer only gathers the bytes; a sender hands them to the line, all
// that has gathered in one call, at most one call a millisecond (a serial
// driver takes a call per byte badly: 100,000 calls a second cost a core's
// quarter on Linux, and Windows' USB serial drivers fall far behind). A byte
// that no other follows goes out within a millisecond. A thread's wake-up
// costs more than a hundred bytes, so the two wake each other as seldom as
// that allows: a writer that runs ahead of the wire and pauses wakes the
// sender once, as it pauses, and the sender then sleeps until a millisecond
// after the writer is due back (to pick up the bytes of a writer that wrote
// a few more and stopped); a byte wakes the sender only when the sender
// would not look within a millisecond anyway. When the writer has
// been quiet for a second the last byte is sent again, so the box holds its
// lamps as a port holds its value; the box's own rule (dark after two
// silent seconds) then means only that the host is gone.
//
// Access set-up opens the device and answers "no driver needed", or "failed"
// with the device and the system's reason. A device that goes away during
// the night (a pulled cable), or that takes no byte for half a second and a
// millisecond a byte (hung firmware), is said once on stderr to be gone; the
// writes meanwhile are dropped but keep the pace of a present box (so a lost
// box costs the light thread what a present one does), and the sender opens
// it again every second, sending the present value as soon as it is back.
// It is said to be back once that value has gone out. The bytes gathered for
// the line never exceed a second of the line's bytes: older ones go first.
//
// The writer's side (LinePacing) and the line's side (LineSender) share only
// the line's clock and the sender's lock, taken once a byte.
//
// Thread safety: set-up and the failure report on the window thread before
// the workers start; PortWrite from the one thread that writes the port; the
// sender on a thread of its own (or, for tests, whoever calls SendDue);
// Drain from the thread that ends the program.
#pragma once

#include <climits>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/port.h"
#include "platform/port_access.h"
#include "platform/serial_line.h"

namespace velmora {

inline constexpr uint32_t kLightLineDefaultBaud = 1000000;
// How far ahead of the wire the bytes may run: past the high mark the writer
// waits until it is back at the low one.
inline constexpr int64_t kLineLeadHighNanos = 4'000'000;
inline constexpr int64_t kLineLeadLowNanos = 2'000'000;
// The shortest time between two calls of the line.
inline constexpr int64_t kLineCallNanos = 1'000'000;
// How long the line may be quiet before the last byte goes again.
inline constexpr int64_t kKeepAliveNanos = 1'000'000'000;
// How often a line that went away is tried again.
inline constexpr int64_t kReopenNanos = 1'000'000'000;
// How long the end of the program waits for the dark byte to reach the line.
inline constexpr int64_t kDarkAtEndNanos = 100'000'000;

struct LightLineSetting {
  std::string device;
  uint32_t baud = kLightLineDefaultBaud;
};

// Reads "DEVICE" or "DEVICE@BAUD" (BAUD a whole number, 50 to 4,000,000).
// Nothing, with the reason in `why`, when the text is not such.
std::optional<LightLineSetting> ParseLightLine(std::string_view text, std::string& why);

// The writer's pacing: the bytes written so far against the line's speed.
// Whether the box is there changes nothing here. Writer thread only.
class LinePacing {
 public:
  struct Pause {
    int64_t at = 0;     // the clock when the writer found itself ahead
    int64_t nanos = 0;  // how long it waits; 0 none
  };
  void SetByteNanos(int64_t nanos) { byteNanos_ = nanos; }
  // Counts one byte; `now` is the clock if it was read for this byte, -1 if
  // not (it is read about every half millisecond of bytes, not for each).
  Pause Count(SerialLine& line, int64_t now);
  void Paused(const Pause& pause) { pacedAt_ = pause.at + pause.nanos; }

 private:
  int64_t byteNanos_ = 0;  // one byte's time on the line
  // When the bytes written so far are all out on the wire, as of the last
  // look at the clock, and the bytes written since.
  int64_t lineFreeAt_ = 0;
  int64_t pacedAt_ = 0;
  int64_t unpaced_ = 0;
};

// The line's sender: the bytes gathered for the line, handed over in batches
// by a thread of its own; the box's loss, its reopening and its return.
class LineSender {
 public:
  LineSender(SerialLine& line, bool ownThread) : line_(line), ownThread_(ownThread) {}
  ~LineSender();

  // The line has opened with `setting`: sending starts.
  void Start(const LightLineSetting& setting);
  // Gathers one byte for the line (dropped while the box is away, but kept
  // as the present value). False when the line never opened. `now` is the
  // clock if it was read, else -1.
  bool Gather(uint8_t value, int64_t& now);
  // The writer, ahead of the wire at `now`, pauses until `backAt`.
  void WriterPauses(int64_t now, int64_t backAt);

  int64_t SendDue(int64_t now);
  uint64_t Wakes();
  size_t Gathered();
  void Drain(int64_t nanoseconds, const std::function<bool()>& writerDone);

 private:
  bool WakeSender();  // with mutex_ held; the caller notifies after unlocking
  void Loop();
  void Lost(const std::string& why, int64_t now);
  int64_t NextStep(int64_t now) const;

  SerialLine& line_;
  const bool ownThread_;
  LightLineSetting setting_;
  size_t capacity_ = 1;  // a second of the line's bytes

  std::mutex mutex_;
  std::condition_variable wake_;
  // Guarded by mutex_:
  bool open_ = false;
  bool lost_ = false;       // opened once, then gone: writes are dropped
  bool saidLost_ = false;   // the loss is said, its return not yet
  bool returning_ = false;  // reopened: back once the present value is out
  bool inFlight_ = false;   // a batch is with the line
  bool stop_ = false;
  std::vector<uint8_t> pending_;
  int last_ = -1;  // the last value written, -1 none yet
  int64_t lastCall_ = INT64_MIN / 2;
  int64_t lastSent_ = 0;
  int64_t nextTry_ = 0;
  int64_t senderDue_ = INT64_MAX;         // when the sender looks next by itself
  int64_t writerBackAt_ = INT64_MIN / 2;  // when a pausing writer writes again
  bool woken_ = false;
  uint64_t wakes_ = 0;
  std::vector<uint8_t> batch_;  // the sender's, handed to the line outside the lock
  std::thread thread_;
};

class SerialLights final : public Port, public PortAccess {
 public:
  enum class Sender { kOwnThread, kCaller };

  // `setting` is VELMORA_LIGHTS's value; null or empty leaves the lights on
  // the parallel port (Chosen() is false). With Sender::kCaller no thread is
  // started: the caller runs SendDue itself (tests, on a virtual clock).
  SerialLights(SerialLine& line, const char* setting, Sender sender = Sender::kOwnThread);
  ~SerialLights() override = default;

  bool Chosen() const { return chosen_; }

  PortAccessResult SetUpPortAccess(uint16_t base) override;
  void ReportFailure(WindowHost& host) override;
  void PortWrite(uint16_t port, uint8_t value) override;

  // The sender's step at the line's time `now`: hands the line what is due
  // (the bytes gathered, a keep-alive, a reopen) and returns when the next
  // step is due. It runs then, or earlier when a write wakes it.
  int64_t SendDue(int64_t now) { return sender_.SendDue(now); }
  // How many times a write has woken the sender (with Sender::kCaller, the
  // caller then runs SendDue).
  uint64_t Wakes() { return sender_.Wakes(); }
  // The bytes gathered and not yet handed to the line.
  size_t Gathered() { return sender_.Gathered(); }
  // Waits, at most `nanoseconds`, until the writer is done (`writerDone`, if
  // given, says so) and every byte it wrote has been handed to the line.
  void Drain(int64_t nanoseconds, const std::function<bool()>& writerDone = {}) {
    sender_.Drain(nanoseconds, writerDone);
  }

 private:
  SerialLine& line_;
  bool chosen_ = false;
  bool opened_ = false;
  std::string text_;  // the setting as given, for messages
  LightLineSetting setting_;
  std::string why_;  // why set-up failed
  uint16_t base_ = 0;
  LinePacing pacing_;
  LineSender sender_;
};

}  // namespace velmora
