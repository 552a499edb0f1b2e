// The night plan builder and the step rules it shares with the generator.
#include "plan/night_plan.h"

#include <gtest/gtest.h>

#include <bit>
#include <initializer_list>
#include <vector>

namespace velmora {
namespace {

struct Recorder {
  std::vector<int32_t> starts, floors;
  std::vector<bool> received = std::vector<bool>(kPlanCapacityMinutes, false);
  void Pulse(const PlanPulse& p) { received[p.minute] = true; }
  void CycleStart(int32_t startValue, int32_t floor) {
    starts.push_back(startValue);
    floors.push_back(floor);
  }
};

PlanWalkResult Build(SharedState& s, int32_t remCount, int32_t timePlus, int32_t moonFactor,
                     Recorder* recorder = nullptr) {
  s.remCount = remCount;
  s.timePlus = timePlus;
  s.moonFactor = moonFactor;
  Recorder ignored;
  return BuildNightPlan(s, recorder ? *recorder : ignored);
}

TEST(StepRulesTest, DefaultUnits) {
  EXPECT_EQ(CycleUnitFor(1, 1), 50);
  EXPECT_EQ(std::bit_cast<uint32_t>(StretchFor(1)), std::bit_cast<uint32_t>(1.73f));
  EXPECT_FLOAT_EQ(StretchFor(1), 1.73000002f);
  EXPECT_EQ(CycleTicksFor(50, 5), 3200000);
}

TEST(StepRulesTest, CycleUnit) {
  struct Case {
    int32_t timePlus, moonFactor, cycleUnit;
  };
  for (const Case& c : std::initializer_list<Case>{
           // moonFactor 7: 7 * (timePlus * (1/7)) is exactly timePlus, so the
           // sum is a whole number that truncation must not lower by one.
           {1, 7, 57},
           {2, 7, 62},
           {3, 7, 67},
           {4, 7, 72},
           {5, 7, 77},
           {6, 7, 82},
           {0, 1, 46},
           {0, 8, 53},  // timePlus 0: 45 + moonFactor
           {1, 8, 58},
           {6, 8, 83},
           {6, 1, 70},
           {3, 4, 62},
       }) {
    EXPECT_EQ(CycleUnitFor(c.timePlus, c.moonFactor), c.cycleUnit)
        << "timePlus " << c.timePlus << " moonFactor " << c.moonFactor;
  }
}

TEST(StepRulesTest, DescentAndStepLength) {
  EXPECT_EQ(Descend(450, 1), 447);
  EXPECT_EQ(Descend(2400, 1), 2390);
  EXPECT_EQ(StepLength(450, 1.73f, 50, 1, 1, 6), 68);
  EXPECT_EQ(HalfPeriodFor(3200000, 450), 888);
  EXPECT_EQ(CycleFloor(50, 0, 6), 25);
  EXPECT_EQ(CycleFloor(50, 6, 6), 37);
  // The count term divides truncating toward zero, (-7) / 3 = -2, then
  // shifts arithmetically, (216 - 23 + 2) >> 2 = 48 ...
  EXPECT_EQ(StepLength(0, 1.0f, 50, 23, 1, 3), 48);
  // ... and a negative sum floors: -83 >> 2 = -21.
  EXPECT_EQ(StepLength(0, 1.0f, 50, 299, 0, 1), -21);
}

TEST(StepRulesTest, StageLabelsFromRate) {
  EXPECT_EQ(CurrentHz(450, 50), 9.0f);
  EXPECT_EQ(CurrentHz(1067, 50), 21.34f);
}

TEST(NightPlanTest, DefaultPlan) {
  SharedState s;
  Recorder r;
  const PlanWalkResult walk = Build(s, 6, 1, 1, &r);
  EXPECT_EQ(walk.fault, PlanFault::kNone);
  EXPECT_EQ(s.cycleUnit, 50);
  EXPECT_EQ(std::bit_cast<uint32_t>(s.stretch.Load()), std::bit_cast<uint32_t>(1.73f));
  EXPECT_EQ(s.cycleTicks, 3200000);
  EXPECT_EQ(walk.planClockMs, 28079901);
  EXPECT_EQ(s.planMinutes, 467);
  EXPECT_EQ(s.samplePos, 898556832);
  EXPECT_EQ(s.cycleIndex, 7);
  EXPECT_EQ(r.starts, (std::vector<int32_t>{450, 1067, 1295, 1385, 1557, 1878, 2021}));
  EXPECT_EQ(r.floors, (std::vector<int32_t>{25, 27, 29, 31, 33, 35, 37}));
  for (int flag = 0; flag < kRepaintFlagCount; ++flag) {
    EXPECT_EQ(s.repaintFlags[flag], flag <= kRepaintHelpRows ? 1 : 0) << flag;
  }
}

TEST(NightPlanTest, DefaultCurves) {
  SharedState s;
  Recorder r;
  Build(s, 6, 1, 1, &r);
  const int16_t freq[] = {17, 16, 15, 14, 13, 12, 12, 11, 10, 10};
  const int16_t seconds[] = {3, 4, 4, 4, 4, 4, 5, 5, 5, 5};
  for (int m = 0; m < 10; ++m) {
    EXPECT_EQ(s.planFreq[m], freq[m]) << m;
    EXPECT_EQ(s.planPulseSeconds[m], seconds[m]) << m;
  }
  struct Case {
    int minute;
    bool received;
    int16_t freq, seconds;
  };
  for (const Case& c : std::initializer_list<Case>{
           {65, true, 0, 55},
           {66, true, 0, 55},
           {67, false, 0, 0},  // the silence after the first rise spans it
           {68, true, 40, 2},
       }) {
    EXPECT_EQ(r.received[c.minute], c.received) << c.minute;
    EXPECT_EQ(s.planFreq[c.minute], c.freq) << c.minute;
    EXPECT_EQ(s.planPulseSeconds[c.minute], c.seconds) << c.minute;
  }
  // Every minute after the start up to the end receives a pulse but those in
  // the silences after the rises.
  int silent = 0;
  for (int m = 0; m < 467; ++m) silent += r.received[m] ? 0 : 1;
  EXPECT_GE(silent, 1);
  EXPECT_LE(silent, 6);
  EXPECT_FALSE(r.received[468]);
}

TEST(NightPlanTest, PlanMinutesByRemCountAndTimePlus) {
  const int32_t expected[6][7] = {
      {141, 150, 159, 167, 175, 183, 191}, {215, 229, 242, 254, 267, 278, 290},
      {292, 310, 328, 345, 362, 377, 393}, {364, 387, 410, 431, 451, 471, 490},
      {440, 467, 494, 520, 544, 568, 591}, {514, 546, 577, 607, 636, 663, 690},
  };
  SharedState s;
  for (int32_t r = 2; r <= 7; ++r) {
    for (int32_t t = 0; t <= 6; ++t) {
      Build(s, r, t, 1);
      EXPECT_EQ(s.planMinutes, expected[r - 2][t]) << "remCount " << r << " timePlus " << t;
      EXPECT_EQ(s.cycleIndex, r + 1);
    }
  }
}

TEST(NightPlanTest, PlanMinutesByMoonFactor) {
  const int32_t minutes[] = {467, 468, 468, 470, 470, 471, 476, 475};
  const int32_t units[] = {50, 51, 52, 53, 54, 55, 57, 58};
  SharedState s;
  for (int32_t m = 1; m <= 8; ++m) {
    Build(s, 6, 1, m);
    EXPECT_EQ(s.planMinutes, minutes[m - 1]) << m;
    EXPECT_EQ(s.cycleUnit, units[m - 1]) << m;
  }
}

TEST(NightPlanTest, ExtremesOfTheRanges) {
  int32_t shortest = 100000, longest = 0;
  SharedState s;
  for (int32_t r = 2; r <= 7; ++r) {
    for (int32_t t = 0; t <= 6; ++t) {
      for (int32_t m = 1; m <= 8; ++m) {
        const PlanWalkResult walk = Build(s, r, t, m);
        ASSERT_EQ(walk.fault, PlanFault::kNone);
        EXPECT_GE(walk.minHalfPeriod, 160);
        shortest = std::min<int32_t>(shortest, s.planMinutes);
        longest = std::max<int32_t>(longest, s.planMinutes);
      }
    }
  }
  EXPECT_EQ(shortest, 140);
  EXPECT_EQ(longest, 708);
  Build(s, 2, 0, 2);
  EXPECT_EQ(s.planMinutes, 140);
  Build(s, 7, 6, 7);
  EXPECT_EQ(s.planMinutes, 708);
}

TEST(NightPlanTest, RebuildNeverClearsTheCurves) {
  SharedState s;
  Build(s, 7, 6, 1);
  const int32_t longMinutes = s.planMinutes;
  std::vector<int16_t> freq, seconds;
  for (int m = 0; m < kPlanCapacityMinutes; ++m) {
    freq.push_back(s.planFreq[m]);
    seconds.push_back(s.planPulseSeconds[m]);
  }
  Recorder r;
  s.repaintFlags[kRepaintChart] = 0;
  Build(s, 2, 6, 1, &r);
  ASSERT_LT(s.planMinutes, longMinutes);
  EXPECT_EQ(s.repaintFlags[kRepaintChart], 1);
  int kept = 0, changed = 0;
  for (int m = 0; m < kPlanCapacityMinutes; ++m) {
    if (!r.received[m]) {
      EXPECT_EQ(s.planFreq[m], freq[m]) << m;
      EXPECT_EQ(s.planPulseSeconds[m], seconds[m]) << m;
      ++kept;
    } else if (s.planFreq[m] != freq[m] || s.planPulseSeconds[m] != seconds[m]) {
      ++changed;
    }
  }
  EXPECT_GT(kept, kPlanCapacityMinutes - s.planMinutes - 2);
  EXPECT_GT(changed, 0);
  // The old plan's values beyond the new end are still there.
  EXPECT_NE(s.planFreq[longMinutes - 1], 0);
}

TEST(NightPlanTest, SamplePosIsThePlanEndInSamples) {
  SharedState s;
  for (int32_t r : {2, 4, 7}) {
    const PlanWalkResult walk = Build(s, r, 3, 5);
    EXPECT_EQ(s.samplePos, walk.planClockMs << 5);
    EXPECT_EQ(s.planMinutes, walk.planClockMs / 60000);
  }
}

}  // namespace
}  // namespace velmora
