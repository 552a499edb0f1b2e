#include "app/state_snapshot.h"

#include <string_view>

namespace velmora {

void TakeSnapshot(SharedState& state, StateSnapshot& out) {
#define VELMORA_SNAPSHOT_TAKE(name) out.name = state.name.Load();
  VELMORA_SNAPSHOT_SCALARS(VELMORA_SNAPSHOT_TAKE)
#undef VELMORA_SNAPSHOT_TAKE
  for (int32_t i = 0; i < kPlanCapacityMinutes; ++i) {
    out.planFreq[i] = state.planFreq[i];
    out.planPulseSeconds[i] = state.planPulseSeconds[i];
  }
  for (size_t i = 0; i < out.envelope.size(); ++i) out.envelope[i] = state.envelope[i];
  for (int i = 0; i < kRepaintFlagCount; ++i) {
    out.repaintFlags[i] = state.repaintFlags[i];
    state.repaintFlags[i] = 0;
  }
  state.stateText.CopyTo(out.stateText);
}

void ApplySnapshot(const StateSnapshot& snapshot, SharedState& state) {
#define VELMORA_SNAPSHOT_APPLY(name) state.name = snapshot.name;
  VELMORA_SNAPSHOT_SCALARS(VELMORA_SNAPSHOT_APPLY)
#undef VELMORA_SNAPSHOT_APPLY
  for (int32_t i = 0; i < kPlanCapacityMinutes; ++i) {
    state.planFreq[i] = snapshot.planFreq[i];
    state.planPulseSeconds[i] = snapshot.planPulseSeconds[i];
  }
  for (size_t i = 0; i < snapshot.envelope.size(); ++i) state.envelope[i] = snapshot.envelope[i];
  for (int i = 0; i < kRepaintFlagCount; ++i) {
    if (snapshot.repaintFlags[i] != 0) state.repaintFlags[i] = 1;
  }
  state.stateText.Set(std::string_view(snapshot.stateText.data()));
}

}  // namespace velmora
