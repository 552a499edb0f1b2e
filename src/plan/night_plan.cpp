#include "plan/night_plan.h"

namespace velmora {

const char* PlanFaultName(PlanFault fault) {
  switch (fault) {
    case PlanFault::kNone:
      return "none";
    case PlanFault::kOutOfDomain:
      return "setting out of domain";
    case PlanFault::kBadCycleUnit:
      return "cycleUnit out of range";
    case PlanFault::kRateNotPositive:
      return "rate value not positive";
    case PlanFault::kEmptyStep:
      return "step without pulses";
    case PlanFault::kOverflow:
      return "32-bit overflow";
    case PlanFault::kClockOutOfRange:
      return "plan clock outside 0..1440 minutes";
    case PlanFault::kNeverEnds:
      return "plan never ends";
  }
  return "unknown";
}

PlanWalkResult BuildNightPlan(SharedState& state) {
  IgnorePlanWalk ignore;
  return BuildNightPlan(state, ignore);
}

}  // namespace velmora
