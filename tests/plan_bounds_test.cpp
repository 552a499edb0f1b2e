// The bounds on the plan settings: every setting inside them gives a plan and
// a generator run with nothing undefined; just outside them something breaks.
#include "app/plan_bounds.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace velmora {
namespace {

TEST(PlanBoundsTest, EveryInRangeSettingIsSafe) {
  for (int32_t r = 2; r <= 7; ++r) {
    for (int32_t t = 0; t <= 6; ++t) {
      for (int32_t m = 1; m <= 8; ++m) {
        const PlanCheck check = CheckPlanSettings({r, t, m});
        EXPECT_TRUE(check.safe) << r << " " << t << " " << m << ": " << check.reason;
      }
    }
  }
}

TEST(PlanBoundsTest, EdgesOfTheBoxAreSafe) {
  const PlanBounds& b = kPlanBounds;
  // Every point on the edges of the box; the whole box is checked point by
  // point by `velmora-limits --verify`.
  for (int32_t r : {b.remCount.min, b.remCount.max}) {
    for (int32_t t : {b.timePlus.min, b.timePlus.max}) {
      for (int32_t m = b.moonFactor.min; m <= b.moonFactor.max; ++m) {
        const PlanCheck check = CheckPlanSettings({r, t, m});
        EXPECT_TRUE(check.safe) << r << " " << t << " " << m << ": " << check.reason;
      }
    }
    for (int32_t m : {b.moonFactor.min, b.moonFactor.max}) {
      for (int32_t t = b.timePlus.min; t <= b.timePlus.max; ++t) {
        const PlanCheck check = CheckPlanSettings({r, t, m});
        EXPECT_TRUE(check.safe) << r << " " << t << " " << m << ": " << check.reason;
      }
    }
  }
  for (int32_t r = b.remCount.min; r <= b.remCount.max; ++r) {
    for (int32_t t : {b.timePlus.min, b.timePlus.max}) {
      for (int32_t m : {b.moonFactor.min, b.moonFactor.max}) {
        const PlanCheck check = CheckPlanSettings({r, t, m});
        EXPECT_TRUE(check.safe) << r << " " << t << " " << m << ": " << check.reason;
      }
    }
  }
}

TEST(PlanBoundsTest, JustOutsideTheBoxSomethingBreaks) {
  struct Case {
    PlanSettings settings;
    const char* reason;
  };
  for (const Case& c : std::initializer_list<Case>{
           {{0, 1, 1}, "setting out of domain"},  // would divide by remCount
           {{-3, 1, 1}, "setting out of domain"},
           {{15, 5, 2}, "plan clock outside 0..1440 minutes"},
           {{20, 0, 1}, "plan clock outside 0..1440 minutes"},
           {{6, 0, -19}, "halfPeriod too short for the tone"},
           {{8, 4, -18}, "halfPeriod too short for the tone"},
           {{2, 0, 168}, "healing step longer than the ring allows"},
           {{2, -10, 5}, "rate value not positive"},
           {{1, -8, 85}, "cycleUnit out of range"},
           {{6, 1, -100}, "cycleUnit out of range"},
           {{6, 1, 1000000}, "setting out of domain"},
       }) {
    const PlanSettings& s = c.settings;
    const PlanCheck check = CheckPlanSettings(s);
    EXPECT_FALSE(check.safe) << s.remCount << " " << s.timePlus << " " << s.moonFactor;
    EXPECT_STREQ(check.reason, c.reason) << s.remCount << " " << s.timePlus << " " << s.moonFactor;
  }
}

TEST(PlanBoundsTest, BoundedStateAlwaysBuildsAUsablePlan) {
  // Far-out option values, once bounded, give a plan of 1..1439 minutes.
  for (int32_t r : {-1000000000, -1, 0, 1, 7, 15, 1000000000}) {
    for (int32_t t : {-1000000000, -7, 0, 6, 1000000000}) {
      for (int32_t m : {-1000000000, -50, -12, 0, 88, 235, 500, 1000000000}) {
        SharedState s;
        s.remCount = r;
        s.timePlus = t;
        s.moonFactor = m;
        BoundPlanSettings(s);
        const PlanWalkResult walk = BuildNightPlan(s);
        EXPECT_EQ(walk.fault, PlanFault::kNone) << r << " " << t << " " << m;
        EXPECT_GE(s.planMinutes, 1);
        EXPECT_LT(s.planMinutes, kPlanCapacityMinutes);
        EXPECT_GE(walk.minHalfPeriod, kMinHalfPeriod);
      }
    }
  }
}

TEST(PlanBoundsTest, WalkFaultsInsteadOfBreaking) {
  // Unbounded values straight into the walk: it stops with a fault, never
  // divides by zero or indexes past the curves (the sanitizer build checks).
  int faults = 0;
  for (int32_t r : {-5, 0, 1, 40, 10000, 10001}) {
    for (int32_t m : {-100000, -300, -60, 0, 300, 600, 100000}) {
      const PlanWalkResult walk = WalkNightPlan({r, 6, m}, IgnorePlanWalk{});
      if (walk.fault == PlanFault::kNone) {
        EXPECT_GE(walk.planClockMs, 0);
        EXPECT_LT(walk.planClockMs / 60000, kPlanCapacityMinutes);
      } else {
        ++faults;
      }
    }
  }
  EXPECT_GE(faults, 30);
}

}  // namespace
}  // namespace velmora
