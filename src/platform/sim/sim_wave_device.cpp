#include "platform/sim/sim_wave_device.h"

namespace velmora {

namespace {
constexpr int64_t kBlockPlayMs = 1000;
}

bool SimWaveDevice::Open(const WaveFormat& format, WaveNoticeTarget& target, std::string& why) {
  format_ = format;
  target_ = &target;
  open_ = true;
  away_ = !opens_;
  if (away_) why = "no simulated device";
  return opens_;
}

void SimWaveDevice::Lose(const std::string& reason) {
  if (!open_ || away_) return;
  away_ = true;
  ++generation_;
  queue_.clear();
  WaveNoticeTarget* target = target_;
  clock_.At(clock_.NowMs(), [target, reason] { target->OnWaveLost(reason); });
}

void SimWaveDevice::ComeBack() {
  if (!open_ || !away_) return;
  away_ = false;
  WaveNoticeTarget* target = target_;
  clock_.At(clock_.NowMs(), [target] { target->OnWaveBack(); });
}

void SimWaveDevice::Write(WaveHeader& header) {
  if (!open_ || away_) return;
  if (!header.prepared) ++unpreparedWrites_;
  queue_.push_back(&header);
  if (queue_.size() == 1) StartNext();
}

void SimWaveDevice::StartNext() {
  const uint64_t generation = generation_;
  clock_.At(clock_.NowMs() + kBlockPlayMs, [this, generation] { Finish(generation); });
}

void SimWaveDevice::Finish(uint64_t generation) {
  if (generation != generation_ || queue_.empty()) return;
  WaveHeader* done = queue_.front();
  queue_.pop_front();
  ++blocksPlayed_;
  if (tap_) tap_(*done);
  if (!queue_.empty()) StartNext();
  target_->OnWaveBlockDone(done);
}

void SimWaveDevice::Close() {
  if (!open_) return;
  open_ = false;
  const bool wasAway = away_;
  away_ = false;
  ++generation_;
  queue_.clear();
  // Posted like a window message: it arrives after the caller has returned.
  // A device that was away closes without a notice, as a real one that
  // never opened.
  if (wasAway) return;
  WaveNoticeTarget* target = target_;
  clock_.At(clock_.NowMs(), [target] { target->OnWaveClosed(); });
}

}  // namespace velmora
