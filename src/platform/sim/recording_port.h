// RecordingPort: keeps every PortWrite with the virtual time it was made at.
//
// Thread safety: one writer thread at a time (the sim drives one).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/port.h"
#include "platform/sim/sim_clock.h"

namespace velmora {

struct PortRecord {
  int64_t timeMs;
  uint16_t port;
  uint8_t value;
};

class RecordingPort final : public Port {
 public:
  explicit RecordingPort(const SimClock& clock) : clock_(clock) {}
  void PortWrite(uint16_t port, uint8_t value) override {
    records_.push_back({clock_.NowMs(), port, value});
  }
  const std::vector<PortRecord>& Records() const { return records_; }
  void Clear() { records_.clear(); }

 private:
  const SimClock& clock_;
  std::vector<PortRecord> records_;
};

}  // namespace velmora
