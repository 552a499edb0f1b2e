// StateSnapshot: what the page needs of the shared state, as one block of
// bytes the audio thread posts to the page (the rows' values, the plan, the
// played clock, the repaint requests). On the desktop the window thread reads
// these fields as the generator writes them; in a browser the two threads are
// two WebAssembly instances, and this is what passes between them.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "app/shared_state.h"

namespace velmora {

// Every scalar of SharedState the painter or the keys read.
// clang-format off
#define VELMORA_SNAPSHOT_SCALARS(X)                                                           \
  X(lptDataPort) X(lptControlPort) X(lptOnPattern) X(soundMode) X(toneMode) X(invertedPulse) \
  X(lightLevel) X(dutyRange) X(healingMode) X(sleepRunning) X(remCount) X(timePlus)          \
  X(moonFactor) X(moonAgeDays) X(cycleUnit) X(cycleTicks) X(stretch) X(planMinutes)          \
  X(cycleIndex) X(samplePos) X(playedMs) X(blocksQueued) X(lastHeader) X(tickCount)          \
  X(startTime) X(finishTime) X(nowTime) X(stepValue) X(stepPeriod) X(currentHz)              \
  X(burstRateHz) X(envelopeNow) X(healingStep)
// clang-format on

template <class R>
using RelaxedValue = std::remove_cvref_t<decltype(std::declval<const R&>().Load())>;

struct StateSnapshot {
#define VELMORA_SNAPSHOT_FIELD(name) RelaxedValue<decltype(SharedState::name)> name;
  VELMORA_SNAPSHOT_SCALARS(VELMORA_SNAPSHOT_FIELD)
#undef VELMORA_SNAPSHOT_FIELD
  std::array<int16_t, kPlanCapacityMinutes> planFreq;
  std::array<int16_t, kPlanCapacityMinutes> planPulseSeconds;
  std::array<uint8_t, 256> envelope;
  std::array<uint8_t, kRepaintFlagCount> repaintFlags;
  std::array<char, StateText::kCapacity + 1> stateText;
};
static_assert(std::is_trivially_copyable_v<StateSnapshot>);

// Copies `state` into `out` and hands over its repaint requests: they are
// cleared in `state`, so each is posted once.
void TakeSnapshot(SharedState& state, StateSnapshot& out);

// Sets `state` to the snapshot, adding its repaint requests to those pending.
void ApplySnapshot(const StateSnapshot& snapshot, SharedState& state);

}  // namespace velmora
