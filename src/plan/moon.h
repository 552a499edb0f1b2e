// The moon's age from the clock and the moon factor 1..8 derived from it.
// Sums and products are formed in extended precision (long double, the x87
// 64-bit significand) and rounded to double at fixed points; those rounding
// points are part of the result.
#pragma once

#include <cstdint>

#include "app/shared_state.h"
#include "platform/clock.h"

namespace velmora {

// Julian day of `seconds` since 1970-01-01 00:00 UTC.
double JulianDay(int32_t seconds);

// Julian day of the new moon of the mean lunation that `jd` falls in; it may
// lie after `jd`.
double NewMoonJulianDay(double jd);

struct MoonReading {
  double ageDays;      // days since the computed new moon
  int32_t moonFactor;  // 1..8
};

// The moon's age and factor at `seconds`.
MoonReading ReadMoon(int32_t seconds);

// Reads the clock and writes startTime, moonAgeDays and moonFactor.
// Window thread only, once at start-up.
void ComputeMoonFactor(SharedState& state, Clock& clock);

}  // namespace velmora
