// The healing pattern: 54 steps, six falling ramps of nine, each sweeping the
// rate from near 48 down to between 7 and 9, shifted a little from ramp to
// ramp, with the step-length factor climbing from 1.5 across the pass.
#pragma once

#include <cstdint>

namespace velmora {

inline constexpr int32_t kHealingSteps = 54;
inline constexpr int32_t kHealingRampSteps = 9;

struct HealingStepValues {
  int32_t stepValue;
  float stretch;
  int32_t stepPeriod;
  int32_t halfPeriod;
};

// The values of healing step `step` (0..53) for the plan's units; the pulse
// count uses `cycleIndex` (remCount + 1 while no programme runs).
HealingStepValues HealingStep(int32_t step, int32_t cycleUnit, int32_t cycleTicks,
                              int32_t moonFactor, int32_t cycleIndex, int32_t remCount);

}  // namespace velmora
