// The defaults of the shared record and the option words of the command line.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/shared_state.h"

namespace velmora {
namespace {

TEST(SharedStateTest, StartsWithTheDefaults) {
  SharedState s;
  EXPECT_EQ(s.lptDataPort, 0x378);
  EXPECT_EQ(s.lptControlPort, 0x37A);
  EXPECT_EQ(s.lptOnPattern, 255);
  EXPECT_EQ(s.soundMode, 1);
  EXPECT_EQ(s.toneMode, 0);
  EXPECT_EQ(s.invertedPulse, 0);
  EXPECT_EQ(s.lightLevel, 0);
  EXPECT_EQ(s.dutyRange, 2);
  EXPECT_EQ(s.healingMode, 1);
  EXPECT_EQ(s.sleepRunning, 1);
  EXPECT_EQ(s.remCount, 6);
  EXPECT_EQ(s.timePlus, 1);
  EXPECT_EQ(s.moonFactor, 0);
  EXPECT_EQ(s.cycleIndex, 0);
  EXPECT_EQ(s.samplePos, 0);
  EXPECT_EQ(s.planMinutes, 0);
  EXPECT_EQ(s.stateText.Get(), "");
  EXPECT_EQ(kRateShift, 5);
  EXPECT_EQ(kToneTableShift, 7);
  for (const auto& f : s.repaintFlags) EXPECT_EQ(f, 0);
  for (const auto& e : s.envelope) EXPECT_EQ(e, 0);
  for (const auto& v : s.planFreq) EXPECT_EQ(v, 0);
}

TEST(SharedStateTest, LayoutAndUnits) {
  EXPECT_EQ(chartLayout.chartWidth, 264);
  EXPECT_EQ(chartLayout.windowWidth, 288);
  EXPECT_EQ(chartLayout.windowHeight, 272);
  EXPECT_EQ(kSampleRate, 32000);
  EXPECT_EQ(kRingBytes, 512000);
}

TEST(SharedStateTest, StateTextKeepsAtMost255Characters) {
  SharedState s;
  s.stateText.Set(std::string(300, 'x'));
  EXPECT_EQ(s.stateText.Get(), std::string(255, 'x'));
  s.stateText.Set("HealingGamma");
  EXPECT_EQ(s.stateText.Get(), "HealingGamma");
}

TEST(ParseHexTest, Values) {
  struct Case {
    const char* text;
    uint32_t value;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"", 0},
           {"0378", 0x378},
           {"03bc", 0x3BC},
           {"03BC", 0x3BC},
           {"0x378", 0},  // stops at the x
           {"12g4", 0x12},
           {"ffffffff", 0xFFFFFFFF},
           {"123456789", 0x23456789},  // only the low 32 bits remain
           {"fFfF", 0xFFFF},
       }) {
    EXPECT_EQ(ParseHex(c.text), c.value) << c.text;
  }
}

TEST(ParseDecimalTest, FollowsAtoi) {
  struct Case {
    const char* text;
    int32_t value;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"", 0},
           {"abc", 0},
           {"42", 42},
           {"  \t\n42", 42},
           {"-17x", -17},
           {"+9", 9},
           {"--3", 0},  // one sign only
           {"- 3", 0},
           {"2147483647", 2147483647},
           {"-2147483648", -2147483647 - 1},
           {"2147483648", -2147483647 - 1},  // no overflow check: wraps
           {"4294967298", 2},
       }) {
    EXPECT_EQ(ParseDecimal(c.text), c.value) << c.text;
  }
}

// Runs option words on a fresh state without the plan bounds.
void ApplyWords(SharedState& s, std::initializer_list<const char*> words) {
  for (const char* w : words) ApplyOptionWord(s, w);
}

TEST(OptionWordTest, PortWords) {
  struct Case {
    std::initializer_list<const char*> words;
    uint16_t data, control;
  };
  for (const Case& c : std::initializer_list<Case>{
           {{"0278"}, 0x278, 0x27A},
           {{"m5", "0278", "#"}, 0x278, 0x27A},
           {{"0x378"}, 0, 2},
           {{"012345"}, 0x2345, 0x2347},
           {{"0ffff"}, 0xFFFF, 0x0001},  // the control address wraps at 16 bits
           {{"03bc", "0278"}, 0x278, 0x27A},
       }) {
    SharedState s;
    ApplyWords(s, c.words);
    EXPECT_EQ(s.lptDataPort, c.data) << *c.words.begin();
    EXPECT_EQ(s.lptControlPort, c.control) << *c.words.begin();
  }
}

TEST(OptionWordTest, SettingsWords) {
  struct Case {
    std::initializer_list<const char*> words;
    int32_t remCount, timePlus, lightLevel, soundMode, dutyRange, pattern, moonFactor;
  };
  // Defaults: remCount 6, timePlus 1, lightLevel 0, sound mode, range 2, pattern 255.
  for (const Case& c : std::initializer_list<Case>{
           {{}, 6, 1, 0, 1, 2, 255, 0},
           {{"!"}, 6, 1, 1, 0, 2, 255, 0},
           {{"!7"}, 6, 1, 8, 0, 2, 255, 0},
           {{"!20"}, 6, 1, 8, 0, 2, 255, 0},
           {{"!-1"}, 6, 1, 0, 0, 2, 255, 0},
           {{"!-5"}, 6, 1, -4, 0, 2, 255, 0},  // no lower bound
           {{"-0"}, 7, 1, 0, 1, 2, 255, 0},
           {{"-6"}, 2, 1, 0, 1, 2, 255, 0},
           {{"-9"}, 2, 1, 0, 1, 2, 255, 0},
           {{"--3"}, 10, 1, 0, 1, 2, 255, 0},
           {{"-"}, 7, 1, 0, 1, 2, 255, 0},
           {{"+9"}, 6, 6, 0, 1, 2, 255, 0},
           {{"+-2"}, 6, -2, 0, 1, 2, 255, 0},
           {{"+"}, 6, 0, 0, 1, 2, 255, 0},
           {{"e"}, 6, 1, 0, 1, 4, 255, 0},
           {{"apple"}, 6, 1, 0, 1, 0, 255, 0},
           {{"5abc"}, 6, 1, 0, 1, 2, 5, 0},
           {{"1"}, 6, 1, 0, 1, 2, 1, 0},
           {{"7"}, 6, 1, 0, 1, 2, 7, 0},
           {{"8"}, 6, 1, 0, 1, 2, 255, 0},  // not a pattern digit
           {{"m5"}, 6, 1, 0, 1, 2, 255, 5},
           {{"m"}, 6, 1, 0, 1, 2, 255, 0},
           {{"m-300"}, 6, 1, 0, 1, 2, 255, -300},
           {{"-2", "r3"}, 3, 1, 0, 1, 2, 255, 0},
           {{"r3", "-2"}, 5, 1, 0, 1, 2, 255, 0},
           {{"r-4"}, -4, 1, 0, 1, 2, 255, 0},
           {{"-4294967293"}, 10, 1, 0, 1, 2, 255, 0},                 // the number wraps to -3
           {{"", "\xC0r3", "x", "R3", "M3"}, 6, 1, 0, 1, 2, 255, 0},  // all ignored
       }) {
    SharedState s;
    ApplyWords(s, c.words);
    const std::string name = c.words.size() ? *c.words.begin() : "(none)";
    EXPECT_EQ(s.remCount, c.remCount) << name;
    EXPECT_EQ(s.timePlus, c.timePlus) << name;
    EXPECT_EQ(s.lightLevel, c.lightLevel) << name;
    EXPECT_EQ(s.soundMode, c.soundMode) << name;
    EXPECT_EQ(s.dutyRange, c.dutyRange) << name;
    EXPECT_EQ(s.lptOnPattern, c.pattern) << name;
    EXPECT_EQ(s.moonFactor, c.moonFactor) << name;
  }
}

TEST(OptionWordTest, FlagWords) {
  const SharedState none;
  EXPECT_EQ(none.invertedPulse, 0);
  EXPECT_EQ(none.healingMode, 1);
  EXPECT_EQ(none.toneMode, 0);
  SharedState s;
  ApplyWords(s, {":x", ".x", "#tone"});
  EXPECT_EQ(s.invertedPulse, 1);
  EXPECT_EQ(s.healingMode, 0);
  EXPECT_EQ(s.toneMode, 1);
}

TEST(ReadOptionsTest, SkipsTheProgramNameAndBoundsThePlanSettings) {
  struct Case {
    std::vector<const char*> argv;
    int32_t remCount, timePlus, moonFactor;
    int clamped;
  };
  for (const Case& c : std::vector<Case>{
           {{"r3"}, 6, 1, 4, 0},  // argv[0] is the program's name, not a word
           {{"velmora", "r3", "+0", "m8"}, 3, 0, 8, 0},
           {{"velmora", "r2", "+6", "m1"}, 2, 6, 1, 0},
           {{"velmora", "r7"}, 7, 1, 4, 0},
           {{"velmora", "r1"}, 1, 1, 4, 0},
           {{"velmora", "r0"}, 1, 1, 4, 1},
           {{"velmora", "r-5"}, 1, 1, 4, 1},
           {{"velmora", "r14"}, 14, 1, 4, 0},
           {{"velmora", "r15"}, 14, 1, 4, 1},
           {{"velmora", "r2000000000"}, 14, 1, 4, 1},
           {{"velmora", "--3"}, 10, 1, 4, 0},
           {{"velmora", "+-2"}, 6, 0, 4, 1},
           {{"velmora", "m-11"}, 6, 1, -11, 0},
           {{"velmora", "m-12"}, 6, 1, -11, 1},
           {{"velmora", "m87"}, 6, 1, 87, 0},
           {{"velmora", "m88"}, 6, 1, 87, 1},
           {{"velmora", "r0", "+-1", "m1000000000"}, 1, 0, 87, 3},
       }) {
    SharedState s;
    s.moonFactor = 4;  // as computed from the moon before the words are read
    const BoundReport report = ReadOptions(s, static_cast<int>(c.argv.size()), c.argv.data());
    const std::string name = c.argv.size() > 1 ? c.argv[1] : "(none)";
    EXPECT_EQ(s.remCount, c.remCount) << name;
    EXPECT_EQ(s.timePlus, c.timePlus) << name;
    EXPECT_EQ(s.moonFactor, c.moonFactor) << name;
    EXPECT_EQ(report.count, c.clamped) << name;
  }
}

TEST(ReadOptionsTest, ReportsWhatTheBoundMoved) {
  SharedState s;
  const std::vector<const char*> argv{"velmora", "r99", "m-40"};
  const BoundReport report = ReadOptions(s, 3, argv.data());
  ASSERT_EQ(report.count, 2);
  EXPECT_STREQ(report.clamped[0].name, "remCount");
  EXPECT_EQ(report.clamped[0].given, 99);
  EXPECT_EQ(report.clamped[0].used, 14);
  EXPECT_STREQ(report.clamped[1].name, "moonFactor");
  EXPECT_EQ(report.clamped[1].given, -40);
  EXPECT_EQ(report.clamped[1].used, -11);
}

}  // namespace
}  // namespace velmora
