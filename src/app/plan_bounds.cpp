#include "app/plan_bounds.h"

#include "generator/healing_pattern.h"

namespace velmora {
namespace {

// Why a healing pass with these units would break, or nullptr.
const char* CheckHealingPattern(const PlanSettings& settings, const PlanWalkResult& units) {
  int32_t gapLead = 0;
  for (int32_t step = 0; step < kHealingSteps; ++step) {
    const HealingStepValues v =
        HealingStep(step, units.cycleUnit, units.cycleTicks, settings.moonFactor,
                    settings.remCount + 1, settings.remCount);
    if (v.stepValue < 1) return "healing rate value not positive";
    if (v.stepPeriod < 1) return "healing step without pulses";
    if (v.halfPeriod < kMinHalfPeriod) return "healing halfPeriod too short for the tone";
    const int64_t fill = (3 * static_cast<int64_t>(v.halfPeriod) + gapLead) * v.stepPeriod;
    if (fill > kMaxWriteRegionSamples) return "healing step longer than the ring allows";
    gapLead = v.halfPeriod;
  }
  return nullptr;
}

}  // namespace

BoundReport BoundPlanSettings(SharedState& state) {
  BoundReport report;
  auto bound = [&report](Relaxed<int32_t>& field, const char* name, SettingRange range) {
    const int32_t given = field;
    const int32_t used = range.Clamp(given);
    if (used == given) return;
    field = used;
    report.clamped[report.count++] = {name, given, used, range};
  };
  bound(state.remCount, "remCount", kPlanBounds.remCount);
  bound(state.timePlus, "timePlus", kPlanBounds.timePlus);
  bound(state.moonFactor, "moonFactor", kPlanBounds.moonFactor);
  return report;
}

PlanCheck CheckPlanSettings(const PlanSettings& settings) {
  PlanCheck check;
  check.walk = WalkNightPlan(settings, IgnorePlanWalk{});
  const PlanWalkResult& walk = check.walk;
  if (walk.fault != PlanFault::kNone) {
    check.reason = PlanFaultName(walk.fault);
  } else if (walk.planClockMs < 60000) {
    check.reason = "plan shorter than a minute";
  } else if (walk.minHalfPeriod < kMinHalfPeriod) {
    check.reason = "halfPeriod too short for the tone";
  } else if (walk.maxGapPiece > kMaxWriteRegionSamples) {
    check.reason = "gap piece longer than the ring allows";
  } else if (const char* healing = CheckHealingPattern(settings, walk)) {
    check.reason = healing;
  } else {
    check.safe = true;
  }
  return check;
}

}  // namespace velmora
