#include "generator/healing_pattern.h"

#include <cmath>
#include <numbers>

#include "plan/step_rules.h"

namespace velmora {

HealingStepValues HealingStep(int32_t step, int32_t cycleUnit, int32_t cycleTicks,
                              int32_t moonFactor, int32_t cycleIndex, int32_t remCount) {
  const auto angle = static_cast<double>(
      ((step % kHealingRampSteps) + step / static_cast<long double>(kHealingSteps)) *
      std::numbers::pi * 0.05L);
  const int32_t rampValue =
      TruncToInt32((48 - 41 * static_cast<long double>(std::sin(angle))) * cycleUnit);
  HealingStepValues v{};
  v.stretch = static_cast<float>(step / 68.0L + 1.5L);
  v.stepValue = Descend(rampValue, moonFactor);
  v.stepPeriod = StepLength(v.stepValue, v.stretch, cycleUnit, moonFactor, cycleIndex, remCount);
  // A rate value of 0 or below only arises from unbounded settings; the check
  // of the settings bounds rejects it rather than divide by zero here.
  v.halfPeriod = v.stepValue > 0 ? HalfPeriodFor(cycleTicks, v.stepValue) : 0;
  return v;
}

}  // namespace velmora
