#include "platform/sim/sim_wave_device.h"

namespace velmora {

namespace {
constexpr int64_t kBlockPlayMs = 1000;
}

bool SimWaveDevice::Open(const WaveFormat& format, WaveNoticeTarget& target) {
  if (!opens_) return false;
  format_ = format;
  target_ = &target;
  open_ = true;
  return true;
}

void SimWaveDevice::Write(WaveHeader& header) {
  if (!open_) return;
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
  ++generation_;
  queue_.clear();
  // Posted like a window message: it arrives after the caller has returned.
  WaveNoticeTarget* target = target_;
  clock_.At(clock_.NowMs(), [target] { target->OnWaveClosed(); });
}

}  // namespace velmora
