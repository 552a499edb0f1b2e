// The night plan: a dry run of the whole sleep programme on a millisecond
// clock, recording for every minute the pulse rate and the pulse length of the
// step then playing, and the programme's length.
#pragma once

#include <cstdint>

#include "app/shared_state.h"
#include "plan/step_rules.h"

namespace velmora {

struct PlanSettings {
  int32_t remCount;
  int32_t timePlus;
  int32_t moonFactor;
};

// Why a walk stopped short. Only settings outside the bounds applied to the
// option words can fault; the walk itself never divides by zero, overflows or
// indexes past the curves.
enum class PlanFault {
  kNone,
  kOutOfDomain,      // a setting too large for 32-bit step arithmetic
  kBadCycleUnit,     // cycleUnit not in 1..kMaxCycleUnit
  kRateNotPositive,  // a step's rate value fell to 0 or below
  kEmptyStep,        // a step with no pulses
  kOverflow,         // a 32-bit product of the plan clock overflowed
  kClockOutOfRange,  // the plan clock left 0..1440 minutes
  kNeverEnds,        // more passes than any real plan needs
};

const char* PlanFaultName(PlanFault fault);

// cycleTicks = cycleUnit * 64000 must fit in 32 bits with room to spare.
inline constexpr int32_t kMaxCycleUnit = 20000;

struct PlanWalkResult {
  PlanFault fault = PlanFault::kNone;
  int32_t cycleUnit = 0;
  float stretch = 0.0f;
  int32_t cycleTicks = 0;
  int64_t planClockMs = 0;
  int64_t pulses = 0;
  int32_t minHalfPeriod = 0;  // over every step of the walk
  int32_t maxGapPiece = 0;    // largest gapLead + halfPeriod of a step
};

// One recorded pulse of a walk: the last pulse of a minute sets its curves.
struct PlanPulse {
  int32_t minute;
  int32_t stepValue;
  int32_t cycleIndex;  // cycles begun so far; remCount + 1 in the last descent
  int16_t planFreq;
  int16_t planPulseSeconds;
};

// Walks the programme for `settings`. For every pulse calls
// visitor.Pulse(PlanPulse); at every cycle start visitor.CycleStart(stepValue,
// floorValue). Allocates nothing.
template <typename Visitor>
PlanWalkResult WalkNightPlan(const PlanSettings& settings, Visitor&& visitor);

// Builds the plan for the state's settings into its curves (never cleared: a
// minute that receives no pulse keeps what it held) and writes cycleUnit,
// stretch, cycleTicks, planMinutes, samplePos, cycleIndex and RepaintFlags 0..5.
// The observer, when given, sees every pulse and cycle start as the walk does.
// Generator thread at its start; window thread on the arrow keys.
PlanWalkResult BuildNightPlan(SharedState& state);
template <typename Observer>
PlanWalkResult BuildNightPlan(SharedState& state, Observer&& observer);

// ---------------------------------------------------------------------------

template <typename Visitor>
PlanWalkResult WalkNightPlan(const PlanSettings& settings, Visitor&& visitor) {
  constexpr int64_t kMsPerMinute = 60000;
  // A real plan has a few hundred thousand pulses; far more means the clock
  // stopped moving.
  constexpr int64_t kMaxPulses = 20'000'000;

  const int32_t remCount = settings.remCount;
  const int32_t moonFactor = settings.moonFactor;
  PlanWalkResult out;
  // Bounds that keep the 32-bit step arithmetic free of overflow.
  if (remCount < 1 || remCount > 10000 || moonFactor < -100000 || moonFactor > 100000 ||
      settings.timePlus < -100000 || settings.timePlus > 100000) {
    out.fault = PlanFault::kOutOfDomain;
    return out;
  }
  const int32_t cycleUnit = CycleUnitFor(settings.timePlus, moonFactor);
  out.cycleUnit = cycleUnit;
  if (cycleUnit < 1 || cycleUnit > kMaxCycleUnit) {
    out.fault = PlanFault::kBadCycleUnit;
    return out;
  }
  const float stretch = StretchFor(moonFactor);
  const int32_t cycleTicks = CycleTicksFor(cycleUnit, kRateShift);
  out.stretch = stretch;
  out.cycleTicks = cycleTicks;
  out.minHalfPeriod = cycleTicks;

  int64_t planClockMs = 0;
  int32_t cycleIndex = 0;
  int32_t stepValue = 0, halfPeriod = 0, stepPeriod = 0, pulseIndex = 0, floorValue = 0;
  int32_t gapLead = 0;

  while (cycleIndex <= remCount || stepValue / cycleUnit >= 13) {
    if (++pulseIndex >= stepPeriod) {
      pulseIndex = 0;
      if (stepValue > floorValue) {
        stepValue = Descend(stepValue, moonFactor);
        if (stepValue < 1) {
          out.fault = PlanFault::kRateNotPositive;
          break;
        }
        gapLead = HalfPeriodFor(cycleTicks, stepValue);
      } else {
        if (cycleIndex == 0) {
          stepValue = 9 * cycleUnit;
          gapLead = halfPeriod;
        } else {
          gapLead = 2 * HalfPeriodFor(cycleTicks, stepValue);
          const RiseResult rise =
              RiseSearch(gapLead, cycleUnit, cycleTicks, stretch, moonFactor, cycleIndex, remCount);
          stepValue = rise.stepValue;
          stepPeriod = rise.stepPeriod;
        }
        floorValue = CycleFloor(cycleUnit, cycleIndex, remCount);
        ++cycleIndex;
        visitor.CycleStart(stepValue, floorValue);
      }
      halfPeriod = HalfPeriodFor(cycleTicks, stepValue);
      // The plan's gap is not the generator's, on purpose. The plan counts
      // whole milliseconds: each piece of the gap cut to milliseconds, times
      // the step period known at this point (the step before's, or the
      // rise's). The generator writes the gap in samples, with the new step's
      // period. The chart, planMinutes and samplePos follow this rule and the
      // played night follows the generator's; both are pinned by tests, so
      // making one match the other changes what is shown or what is played.
      const int64_t gap = static_cast<int64_t>((gapLead + halfPeriod) >> kRateShift) * stepPeriod;
      if (gap != static_cast<int32_t>(gap)) {
        out.fault = PlanFault::kOverflow;
        break;
      }
      planClockMs += gap;
      stepPeriod = StepLength(stepValue, stretch, cycleUnit, moonFactor, cycleIndex, remCount);
      if (stepPeriod < 1) {
        out.fault = PlanFault::kEmptyStep;
        break;
      }
      if (halfPeriod < out.minHalfPeriod) out.minHalfPeriod = halfPeriod;
      if (gapLead + halfPeriod > out.maxGapPiece) out.maxGapPiece = gapLead + halfPeriod;
    }
    const int64_t minute = planClockMs / kMsPerMinute;
    if (planClockMs < 0 || minute >= kPlanCapacityMinutes) {
      out.fault = PlanFault::kClockOutOfRange;
      break;
    }
    const int64_t stepSamples = static_cast<int64_t>(halfPeriod) * stepPeriod;
    if (stepSamples != static_cast<int32_t>(stepSamples)) {
      out.fault = PlanFault::kOverflow;
      break;
    }
    visitor.Pulse(
        PlanPulse{static_cast<int32_t>(minute), stepValue, cycleIndex,
                  static_cast<int16_t>((2 * stepValue) / cycleUnit),
                  static_cast<int16_t>((static_cast<int32_t>(stepSamples) / 500) >> kRateShift)});
    planClockMs += halfPeriod >> (kRateShift - 1);
    if (++out.pulses > kMaxPulses) {
      out.fault = PlanFault::kNeverEnds;
      break;
    }
  }
  out.planClockMs = planClockMs;
  return out;
}

template <typename Observer>
PlanWalkResult BuildNightPlan(SharedState& state, Observer&& observer) {
  // Writes each pulse into the shared curves (a later pulse of the same minute
  // overwrites an earlier one) and passes it on.
  struct CurveWriter {
    SharedState& state;
    Observer& observer;
    void Pulse(const PlanPulse& p) {
      state.planFreq[p.minute] = p.planFreq;
      state.planPulseSeconds[p.minute] = p.planPulseSeconds;
      observer.Pulse(p);
    }
    void CycleStart(int32_t stepValue, int32_t floorValue) {
      observer.CycleStart(stepValue, floorValue);
    }
  };
  const PlanSettings settings{state.remCount, state.timePlus, state.moonFactor};
  const PlanWalkResult walk = WalkNightPlan(settings, CurveWriter{state, observer});

  state.cycleUnit = walk.cycleUnit;
  state.stretch = walk.stretch;
  state.cycleTicks = walk.cycleTicks;
  state.planMinutes = static_cast<int32_t>(walk.planClockMs / 60000);
  state.samplePos = walk.planClockMs << kRateShift;
  state.cycleIndex = settings.remCount + 1;
  for (int flag = kRepaintChart; flag <= kRepaintHelpRows; ++flag) state.repaintFlags[flag] = 1;
  return walk;
}

// A walk observer that ignores everything.
struct IgnorePlanWalk {
  void Pulse(const PlanPulse&) {}
  void CycleStart(int32_t, int32_t) {}
};

}  // namespace velmora
