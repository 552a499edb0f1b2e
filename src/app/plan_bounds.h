// The bounds on the plan settings. The keys keep remCount in 2..7 and timePlus
// in 0..6 and the moon gives 1..8, but the option words "r", "-", "+" and "m"
// can set anything. Every value that reaches the plan builder and the
// generator passes through BoundPlanSettings, the one place the bounds apply.
#pragma once

#include <array>
#include <cstdint>

#include "app/shared_state.h"
#include "plan/night_plan.h"

namespace velmora {

struct SettingRange {
  int32_t min;
  int32_t max;
  int32_t Clamp(int32_t v) const { return v < min ? min : (v > max ? max : v); }
  bool Contains(int32_t v) const { return v >= min && v <= max; }
};

// The box of settings whose every point passes CheckPlanSettings, found by the
// sweep of `velmora-limits` and verified point by point by `velmora-limits
// --verify`. The in-range settings 2..7, 0..6, 1..8 lie well inside it.
struct PlanBounds {
  SettingRange remCount;
  SettingRange timePlus;
  SettingRange moonFactor;
};
inline constexpr PlanBounds kPlanBounds{{1, 14}, {0, 6}, {-11, 87}};

// A setting that BoundPlanSettings moved into its range.
struct ClampedSetting {
  const char* name;
  int32_t given;
  int32_t used;
  SettingRange range;
};
struct BoundReport {
  std::array<ClampedSetting, 3> clamped{};
  int count = 0;
};

// Clamps remCount, timePlus and moonFactor into kPlanBounds and says which it
// moved. Window thread.
BoundReport BoundPlanSettings(SharedState& state);

// Longest region a single write may cover beyond the writer's lead over the
// played clock: the ring less the lead and the two blocks the device holds.
inline constexpr int64_t kMaxWriteRegionSamples =
    static_cast<int64_t>(kRingBytes) - 2 * static_cast<int64_t>(kBlockBytes) -
    static_cast<int64_t>(kLeadMs) * kSampleRate / 1000;

// Smallest halfPeriod the tone writer can use: it divides by halfPeriod >> 7.
inline constexpr int32_t kMinHalfPeriod = 1 << kToneTableShift;

struct PlanCheck {
  bool safe = false;
  const char* reason = "";
  PlanWalkResult walk;
};

// Whether `settings` give a plan and a generator run with nothing undefined:
// a plan of 1..1439 minutes, every step with at least one pulse and a
// halfPeriod the tone writer can use, every write region inside the ring, in
// the programme and in every step of the healing pattern.
PlanCheck CheckPlanSettings(const PlanSettings& settings);

}  // namespace velmora
