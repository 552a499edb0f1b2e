// The step rules shared by the plan builder and both generator phases: the
// plan's time unit, the descent of the rate value from step to step, the
// number of pulses in a step, the half period of a pulse and the cycle floor.
//
// Arithmetic is part of the behaviour: rates are signed 32-bit with divisions
// truncating toward zero and arithmetic shifts; the real-valued formulas are
// formed in extended precision (long double) and truncated toward zero.
#pragma once

#include <cstdint>
#include <limits>

namespace velmora {

// Truncates toward zero into 32 bits, saturating instead of overflowing so the
// conversion is defined for any input; inside the settings' ranges the values
// are small and saturation never happens.
inline int32_t TruncToInt32(long double v) {
  if (!(v > static_cast<long double>(std::numeric_limits<int32_t>::min()))) {
    return v != v ? 0 : std::numeric_limits<int32_t>::min();
  }
  if (!(v < static_cast<long double>(std::numeric_limits<int32_t>::max()))) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(v);
}

// The plan's time unit: trunc(moonFactor * (timePlus * (1/7)) + 4 * timePlus +
// 45 + moonFactor), the sum formed left to right.
inline int32_t CycleUnitFor(int32_t timePlus, int32_t moonFactor) {
  constexpr long double kSeventh = 1.0L / 7;
  const long double m = moonFactor;
  return TruncToInt32(m * (timePlus * kSeventh) + 4.0L * timePlus + 45 + m);
}

// The step-length factor 1.75 - 0.02 * moonFactor as a 32-bit float.
inline float StretchFor(int32_t moonFactor) {
  return static_cast<float>(1.75L - moonFactor * 0.02L);
}

// (cycleUnit * 2000) << rateShift.
inline int32_t CycleTicksFor(int32_t cycleUnit, int32_t rateShift) {
  return (cycleUnit * 2000) << rateShift;
}

// The next rate value of a descent: stepValue - ((moonFactor * 0.0001 +
// 0.0036) * stepValue + 1), truncated.
inline int32_t Descend(int32_t stepValue, int32_t moonFactor) {
  const long double v = stepValue;
  return TruncToInt32(v - ((moonFactor * 0.0001L + 0.0036L) * v + 1.0L));
}

// Pulses in a step: trunc(stepValue * stretch / cycleUnit + ((216 - moonFactor
// - ((16 - moonFactor) * cycleIndex) / remCount) >> 2)).
inline int32_t StepLength(int32_t stepValue, float stretch, int32_t cycleUnit, int32_t moonFactor,
                          int32_t cycleIndex, int32_t remCount) {
  const int32_t countTerm = (216 - moonFactor - ((16 - moonFactor) * cycleIndex) / remCount) >> 2;
  return TruncToInt32(static_cast<long double>(stepValue) * stretch / cycleUnit + countTerm);
}

// Samples in half a pulse.
inline int32_t HalfPeriodFor(int32_t cycleTicks, int32_t stepValue) {
  return cycleTicks / (8 * stepValue);
}

// The rate value at or below which the cycle that starts at `cycleIndex`
// (before its increment) ends.
inline int32_t CycleFloor(int32_t cycleUnit, int32_t cycleIndex, int32_t remCount) {
  return ((cycleUnit >> 2) * cycleIndex) / remCount + (cycleUnit >> 1);
}

// The rate figure shown and used for the stage label: stepValue / cycleUnit
// divided in floating point, stored as a 32-bit float.
inline float CurrentHz(int32_t stepValue, int32_t cycleUnit) {
  return static_cast<float>(static_cast<long double>(stepValue) / cycleUnit);
}

struct RiseResult {
  int32_t stepValue;
  int32_t stepPeriod;
};

// The rise at a cycle start: the smallest rate value above 9 * cycleUnit whose
// halfPeriod * stepPeriod is at most `gapLead` (twice the floor's halfPeriod).
// The search ends at the latest where halfPeriod reaches 0.
inline RiseResult RiseSearch(int32_t gapLead, int32_t cycleUnit, int32_t cycleTicks, float stretch,
                             int32_t moonFactor, int32_t cycleIndex, int32_t remCount) {
  RiseResult r{9 * cycleUnit, 0};
  do {
    ++r.stepValue;
    r.stepPeriod = StepLength(r.stepValue, stretch, cycleUnit, moonFactor, cycleIndex, remCount);
  } while (static_cast<int64_t>(HalfPeriodFor(cycleTicks, r.stepValue)) * r.stepPeriod > gapLead);
  return r;
}

}  // namespace velmora
