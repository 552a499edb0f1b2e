// The envelope table: 256 amplitudes along half a sine wave, from 0 up to
// level - 1 and back, spread over the pulses of one step.
#pragma once

#include <cstdint>

#include "app/shared_state.h"

namespace velmora {

inline constexpr int32_t kEnvelopeMaxLevel = 64;

// Fills state.envelope for peak `level` (levels above 64 count as 64).
// Generator thread, or window thread on the light keys; a reader may see a mix
// of old and new entries for the pulses of one step.
void BuildEnvelope(SharedState& state, int32_t level);

// The level of the light setting: (9 - lightLevel) * 8, as (576 - lightLevel * 64) >> 3.
inline int32_t LightEnvelopeLevel(int32_t lightLevel) {
  return (576 - lightLevel * 64) >> 3;
}

}  // namespace velmora
