// SimWaveDevice: plays each block handed to it for 1000 ms of virtual time, in
// the order handed over, and delivers the finished-block notice to its target
// as each block ends, and the closed notice on Close. A tap sees every block as
// it finishes, with its bytes at that moment. A test can take the device away
// and bring it back; both are said like window messages, after the caller.
//
// Thread safety: the thread that drives the SimClock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "platform/sim/sim_clock.h"
#include "platform/wave_device.h"

namespace velmora {

class SimWaveDevice final : public WaveDevice {
 public:
  explicit SimWaveDevice(SimClock& clock, bool opens = true) : clock_(clock), opens_(opens) {}

  bool Open(const WaveFormat& format, WaveNoticeTarget& target, std::string& why) override;
  void Prepare(WaveHeader& header) override { header.prepared = true; }
  void Write(WaveHeader& header) override;
  void Unprepare(WaveHeader& header) override { header.prepared = false; }
  void Close() override;

  // The device goes away: the blocks it holds are dropped unplayed.
  void Lose(const std::string& reason);
  // The device plays again (also after an open that failed).
  void ComeBack();

  // Called with each block as it finishes playing, before its notice.
  void SetTap(std::function<void(const WaveHeader&)> tap) { tap_ = std::move(tap); }

  // The blocks the device holds: the one playing first, then those queued.
  const std::deque<WaveHeader*>& Held() const { return queue_; }
  bool IsOpen() const { return open_; }
  const WaveFormat& Format() const { return format_; }
  int64_t BlocksPlayed() const { return blocksPlayed_; }
  // Header calls made with a header that was not prepared.
  int64_t UnpreparedWrites() const { return unpreparedWrites_; }

 private:
  void StartNext();
  void Finish(uint64_t generation);

  SimClock& clock_;
  bool opens_;
  bool open_ = false;
  bool away_ = false;
  uint64_t generation_ = 0;  // a Close cancels the finish events still pending
  WaveFormat format_{};
  WaveNoticeTarget* target_ = nullptr;
  std::deque<WaveHeader*> queue_;
  std::function<void(const WaveHeader&)> tap_;
  int64_t blocksPlayed_ = 0;
  int64_t unpreparedWrites_ = 0;
};

}  // namespace velmora
