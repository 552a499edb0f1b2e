// The half-sine envelope table.
#include "generator/envelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace velmora {
namespace {

std::vector<int> Table(int32_t level) {
  SharedState s;
  BuildEnvelope(s, level);
  std::vector<int> t;
  for (const auto& e : s.envelope) t.push_back(e);
  return t;
}

TEST(EnvelopeTest, KnownRows) {
  struct Case {
    int32_t level;
    int first;  // index of the first entry listed
    std::vector<int> entries;
  };
  for (const Case& c : std::initializer_list<Case>{
           {64, 0, {0, 1, 2, 3, 3, 4, 5, 6, 7, 7, 8, 9, 10, 10, 11, 12}},
           {64, 240, {11, 10, 10, 9, 8, 7, 7, 6, 5, 4, 3, 3, 2, 1, 0, 0}},
           {56, 0, {0, 1, 2, 2, 3, 4, 4, 5}},
           {8, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
       }) {
    const std::vector<int> t = Table(c.level);
    for (size_t i = 0; i < c.entries.size(); ++i) {
      EXPECT_EQ(t[c.first + i], c.entries[i]) << "level " << c.level << " entry " << c.first + i;
    }
  }
}

TEST(EnvelopeTest, PeakCountsAndSymmetry) {
  struct Case {
    int32_t level;
    int peakCount;
  };
  for (const Case& c : std::initializer_list<Case>{{64, 29}, {56, 31}, {8, 83}}) {
    const std::vector<int> t = Table(c.level);
    EXPECT_EQ(*std::max_element(t.begin(), t.end()), c.level - 1) << c.level;
    EXPECT_EQ(std::count(t.begin(), t.end(), c.level - 1), c.peakCount) << c.level;
    EXPECT_EQ(t[127], c.level - 1);
    EXPECT_EQ(t[255], 0);
    for (int i = 0; i <= 254; ++i) EXPECT_EQ(t[i], t[254 - i]) << c.level << " entry " << i;
  }
}

TEST(EnvelopeTest, LevelsAboveSixtyFourGiveTheSixtyFourTable) {
  EXPECT_EQ(Table(72), Table(64));
  EXPECT_EQ(Table(1000), Table(64));
  EXPECT_EQ(LightEnvelopeLevel(0), 72);
  EXPECT_EQ(LightEnvelopeLevel(1), 64);
  EXPECT_EQ(LightEnvelopeLevel(8), 8);
}

TEST(EnvelopeTest, RebuildReplacesEveryEntry) {
  SharedState s;
  BuildEnvelope(s, 64);
  BuildEnvelope(s, 8);
  std::vector<int> t;
  for (const auto& e : s.envelope) t.push_back(e);
  EXPECT_EQ(t, Table(8));
}

}  // namespace
}  // namespace velmora
