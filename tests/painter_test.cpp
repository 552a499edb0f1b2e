// Painting: the chart, the status rows, the help area, the cursor and the
// flags that decide what is drawn and copied, checked on real pixels.
#include "display/painter.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "fake_services.h"
#include "plan/night_plan.h"

namespace velmora {
namespace {

using testing::CallLog;
using testing::FakeHost;
using testing::RecordingText;

constexpr Color kGrey0{2, 2, 2};
constexpr Color kGrey16{66, 66, 66};
constexpr Color kGrey48{194, 194, 194};
constexpr Color kGrey63{254, 254, 254};
constexpr Color kYellow16{160, 160, 95};

struct PaintBench {
  SharedState state;
  SimClock clock{0};
  RecordingText text;
  RasterCanvas canvas{288, 272, &text};
  CallLog log;
  FakeHost host{log};
  DrawingObjects drawing = CreateDrawingObjects(canvas);

  // A plan of `minutes` with flat curves: rates 0 (along the chart's bottom
  // edge), pulse lengths 20 (a line 20 pixels below its top).
  void FlatPlan(int32_t minutes) {
    state.planMinutes = minutes;
    for (auto& v : state.planPulseSeconds) v = 20;
    for (int f = 0; f <= kRepaintHelpRows; ++f) state.repaintFlags[f] = 1;
  }
  void Paint() { PaintWindow(state, drawing, canvas, clock, &host); }
  Color Bitmap(int x, int y) const { return canvas.Bitmap().ColorAt(x, y); }
  Color Window(int x, int y) const { return canvas.Window().ColorAt(x, y); }
};

TEST(PainterTest, DrawingObjectsAndTheFreshBitmap) {
  PaintBench b;
  EXPECT_EQ(b.drawing.grey[32], (Color{130, 130, 130}));
  EXPECT_EQ(b.drawing.grey[63], kGrey63);
  EXPECT_EQ(b.drawing.yellow[63], (Color{254, 254, 1}));
  EXPECT_EQ(b.drawing.cyan[63], (Color{1, 254, 254}));
  EXPECT_EQ(b.drawing.yellow[16], kYellow16);
  for (int y : {0, 100, 271}) {
    for (int x : {0, 144, 287}) EXPECT_EQ(b.Bitmap(x, y), (Color{130, 130, 130}));
  }
}

TEST(PainterTest, ChartBandsAndHourLines) {
  PaintBench b;
  b.FlatPlan(467);
  b.Paint();
  struct Case {
    int x, y;
    Color color;
  };
  for (const Case& c : std::initializer_list<Case>{
           {2, 2, kGrey63},                  // background
           {280, 200, kGrey63},              // help area
           {20, 181, kGrey0},                // band 1: 178..183
           {20, 170, kGrey16},               // band 2: 168..177 (outline at 168)
           {20, 160, Color{130, 130, 130}},  // band 3
           {20, 140, kGrey48},               // band 4
           {20, 120, kYellow16},             // band 5, up to the chart top
           {20, 104, kGrey0},                // top line / band outline
           {271, 120, kGrey0},               // right outline, column 271
           {272, 120, kGrey63},              // outside the chart
       }) {
    EXPECT_EQ(b.Bitmap(c.x, c.y), c.color) << c.x << "," << c.y;
  }
  // Hour lines at the first column of every whole hour.
  std::vector<int> lines;
  for (int x = 9; x < 271; ++x) {
    if (b.Bitmap(x, 120) == kGrey0) lines.push_back(x);
  }
  EXPECT_EQ(lines, (std::vector<int>{42, 76, 110, 144, 178, 212, 246}));
  EXPECT_EQ(b.Bitmap(8, 150), kGrey0);  // the line at column 0 on the outline
}

TEST(PainterTest, CurvesAreTwoPixelsWideAndNotClipped) {
  PaintBench b;
  b.FlatPlan(100);
  for (int m = 0; m < 100; ++m) {
    b.state.planFreq[m] = 85;  // above the chart's 80 pixels
    b.state.planPulseSeconds[m] = 10;
  }
  b.Paint();
  const Color cyan{1, 254, 254}, yellow{254, 254, 1};
  EXPECT_EQ(b.Bitmap(100, 184 - 85), cyan);  // into the gap above the chart
  EXPECT_EQ(b.Bitmap(100, 184 - 85 - 1), cyan);
  EXPECT_EQ(b.Bitmap(100, 104 + 10), yellow);
  EXPECT_EQ(b.Bitmap(100, 104 + 10 - 1), yellow);
  EXPECT_NE(b.Bitmap(100, 104 + 10 + 1), yellow);
}

TEST(PainterTest, LabelsAndRowsAreDrawnTwice) {
  PaintBench b;
  b.FlatPlan(467);
  b.Paint();
  struct Case {
    int y;
    std::vector<std::string> texts;
    Color color;
  };
  for (const Case& c : std::initializer_list<Case>{
           {146, {"NREM ", "NREM "}, Color{255, 255, 128}},
           {128, {"REM ", "REM "}, Color{128, 255, 255}},
           {16, {"STATE", "STATE", " 0.0 x 0.00 Hz", " 0.0 x 0.00 Hz"}, Color{192, 160, 255}},
           {36,
            {"TIMER", "TIMER", "Start 00:00 to 07:47 finish", "Start 00:00 to 07:47 finish"},
            Color{212, 160, 255}},
           {56,
            {"SLEEP", "SLEEP", "REM 6 (time+1)  Moon 0.0/0", "REM 6 (time+1)  Moon 0.0/0"},
            Color{232, 160, 255}},
           {76,
            {"POWER", "POWER", "Sound mode / Pulse", "Sound mode / Pulse"},
            Color{252, 160, 255}},
       }) {
    EXPECT_EQ(b.text.TextsAt(c.y), c.texts) << c.y;
    for (const auto& d : b.text.draws) {
      if (d.y == c.y) {
        EXPECT_EQ(d.color, c.color) << c.y;
      }
    }
  }
  // x and x + 1.
  std::vector<int> xs;
  for (const auto& d : b.text.draws) {
    if (d.y == 16) xs.push_back(d.x);
  }
  EXPECT_EQ(xs, (std::vector<int>{12, 13, 60, 61}));
  // Status row box: grey 16 inside, grey 0 outline from y - 1 to y + 19.
  EXPECT_EQ(b.Bitmap(270, 30), kGrey16);
  EXPECT_EQ(b.Bitmap(270, 15), kGrey0);
  EXPECT_EQ(b.Bitmap(270, 35), kGrey0);  // shared with the next box
}

TEST(PainterTest, StatusRowTexts) {
  SharedState s;
  SimClock clock(0);
  RowText t;
  s.stateText.Set("NREM1 Alpha");
  s.currentHz = 9.0f;
  s.burstRateHz = 0.25f;
  StateRowText(s, t);
  EXPECT_STREQ(t.data(), "NREM1 Alpha 9.0 x 0.25 Hz");
  s.sleepRunning = 0;
  StateRowText(s, t);
  EXPECT_STREQ(t.data(), "NREM1 Alpha");

  s.startTime = 22 * 3600 + 15 * 60;
  s.planMinutes = 467;
  TimerRowText(s, clock, t);
  EXPECT_STREQ(t.data(), "Start 22:15 to 06:02 finish");
  EXPECT_EQ(FinishTimeOf(s), s.startTime + 467 * 60);

  s.moonAgeDays = 25.2145;
  s.moonFactor = 4;
  SleepRowText(s, t);
  EXPECT_STREQ(t.data(), "REM 6 (time+1)  Moon 25.2/4");

  struct Power {
    int sound, tone, level, range;
    uint16_t port;
    const char* text;
  };
  for (const Power& p : std::initializer_list<Power>{
           {1, 1, 0, 2, 0x378, "Sound mode / Tone"},
           {1, 0, 0, 2, 0x378, "Sound mode / Pulse"},
           {0, 0, 3, 2, 0x378, "Light-3 Range 2:6 LPT 0378"},
           {0, 1, 8, 4, 0x27a, "Light-8 Range 0:8 LPT 027a"},
       }) {
    s.soundMode = static_cast<uint8_t>(p.sound);
    s.toneMode = static_cast<uint8_t>(p.tone);
    s.lightLevel = p.level;
    s.dutyRange = p.range;
    s.lptDataPort = p.port;
    PowerRowText(s, t);
    EXPECT_STREQ(t.data(), p.text);
  }
}

TEST(PainterTest, HelpLinesPerMode) {
  struct Case {
    int healing, sound, tone;
    const char* second;
    const char* third;
  };
  for (const Case& c : std::initializer_list<Case>{
           {1, 1, 0, "Enter=Sleep Space=Tone", "UpDownKey=REM LeftRightKey=time"},
           {1, 1, 1, "Enter=Sleep Space=Pulse", "UpDownKey=REM LeftRightKey=time"},
           {1, 0, 0, "Enter=Sleep ", "UpDownKey=REM LeftRightKey=time"},
           {0, 1, 0, "Enter=Healing Space=Tone", ""},
           {0, 0, 0, "Enter=Healing ", "UpDownKey=Light LeftRightKey=range"},
       }) {
    SharedState s;
    s.healingMode = static_cast<uint8_t>(c.healing);
    s.soundMode = static_cast<uint8_t>(c.sound);
    s.toneMode = static_cast<uint8_t>(c.tone);
    const HelpLines lines = HelpText(s);
    EXPECT_STREQ(lines.first, c.healing ? kCreditLine : kBannerLine);
    EXPECT_STREQ(lines.second.data(), c.second);
    EXPECT_STREQ(lines.third, c.third);
  }
  // Drawn once each at x 8, y 188, 208, 224, in black; no third line when empty.
  PaintBench b;
  b.state.healingMode = 0;
  b.state.repaintFlags[kRepaintHelpRows] = 1;
  b.Paint();
  ASSERT_EQ(b.text.draws.size(), 2u);
  EXPECT_EQ(b.text.draws[0].y, 188);
  EXPECT_EQ(b.text.draws[1].y, 208);
  EXPECT_EQ(b.text.draws[1].x, 8);
  EXPECT_EQ(b.text.draws[1].color, (Color{0, 0, 0}));
}

TEST(PainterTest, CursorAndWipeColumns) {
  struct Case {
    int64_t minutes;
    int line, strip;
  };
  for (const Case& c : std::initializer_list<Case>{
           {0, 8, 7},
           {60, 41, 40},
           {466, 270, 270},
           {467, 271, 271},
           {500, 289, 289},
       }) {
    EXPECT_EQ(CursorColumn(c.minutes, 467), c.line) << c.minutes;
    EXPECT_EQ(WipeStripColumn(c.minutes, 467), c.strip) << c.minutes;
  }
}

TEST(PainterTest, CursorBlinksOnTheWindowOnly) {
  PaintBench b;
  b.FlatPlan(467);
  b.Paint();  // everything drawn and copied
  const Color chartAt41 = b.Window(41, 120);
  b.state.samplePos = (int64_t{60} * 60000) << 5;  // 60 minutes played
  b.state.tickCount = 1;
  b.Paint();
  EXPECT_EQ(b.Window(41, 120), kGrey63);  // the line, straight on the window
  EXPECT_EQ(b.Window(41, 104), kGrey63);
  EXPECT_EQ(b.Window(41, 183), kGrey63);
  EXPECT_EQ(b.Window(41, 184), b.Bitmap(41, 184));  // end point excluded
  EXPECT_EQ(b.Bitmap(41, 120), chartAt41);          // the bitmap is untouched
  // 59 999 ms more is not a minute: the same column.
  b.state.samplePos = (int64_t{60} * 60000 + 59999) << 5;
  b.state.tickCount = 2;
  b.Paint();
  EXPECT_EQ(b.Window(41, 120), chartAt41);  // wiped by the strip 40..41
}

TEST(PainterTest, LineDrawnBeforeAMinuteChangeStays) {
  PaintBench b;
  b.FlatPlan(467);
  b.Paint();
  b.state.samplePos = (int64_t{229} * 60000) << 5;
  b.state.tickCount = 1;
  b.Paint();
  ASSERT_EQ(CursorColumn(229, 467), 136);
  EXPECT_EQ(b.Window(136, 150), kGrey63);
  b.state.samplePos = (int64_t{230} * 60000) << 5;
  b.state.tickCount = 2;
  b.Paint();
  EXPECT_EQ(WipeStripColumn(230, 467), 137);
  EXPECT_EQ(b.Window(136, 150), kGrey63);  // not covered by the strip 137..138
  EXPECT_NE(b.Bitmap(136, 150), kGrey63);
  // The next full copy removes it.
  b.state.repaintFlags[kRepaintCopyAll] = 1;
  b.state.tickCount = 4;
  b.Paint();
  EXPECT_EQ(b.Window(136, 150), b.Bitmap(136, 150));
}

TEST(PainterTest, WhatSetsAndClearsTheCopyFlag) {
  PaintBench b;
  b.FlatPlan(467);
  b.Paint();
  for (int f = 0; f < kRepaintFlagCount; ++f) EXPECT_EQ(b.state.repaintFlags[f], 0) << f;

  // The help area alone is drawn into the bitmap but not copied.
  b.state.healingMode = 0;
  b.state.repaintFlags[kRepaintHelpRows] = 1;
  b.state.tickCount = 2;
  b.Paint();
  EXPECT_NE(b.canvas.Window().Pixels(), b.canvas.Bitmap().Pixels());

  // A status row sets it: the whole bitmap goes to the window.
  b.state.repaintFlags[kRepaintPowerRow] = 1;
  b.Paint();
  EXPECT_EQ(b.canvas.Window().Pixels(), b.canvas.Bitmap().Pixels());

  // With output stopped every paint copies everything.
  b.state.sleepRunning = 0;
  b.state.tickCount = 1;
  b.Paint();
  b.state.tickCount = 2;
  b.Paint();
  EXPECT_EQ(b.canvas.Window().Pixels(), b.canvas.Bitmap().Pixels());
}

TEST(PainterTest, WarningBoxOnlyWithTheStateRow) {
  PaintBench b;
  b.state.planMinutes = 467;
  b.state.repaintFlags[kRepaintWarning] = 1;
  b.Paint();
  EXPECT_TRUE(b.host.boxes.empty());  // entry 14 is looked at only with entry 1
  EXPECT_EQ(b.state.repaintFlags[kRepaintWarning], 1);
  b.state.repaintFlags[kRepaintStateRow] = 1;
  b.Paint();
  ASSERT_EQ(b.host.boxes.size(), 1u);
  EXPECT_EQ(b.host.boxes[0],
            "WARNING: CPU task is heavy!\nMaybe bad affect your Biorythm.\nPlease not use Velmora "
            "on this comp.");
  EXPECT_EQ(b.state.repaintFlags[kRepaintWarning], 0);
}

TEST(PainterTest, DefaultPlanChartOnRealCurves) {
  PaintBench b;
  b.state.moonFactor = 1;
  BuildNightPlan(b.state);
  b.Paint();
  // Minute 68 reads planFreq 40: the cyan curve at that column.
  const int column = 8 + (68 * 264 + 466) / 467;
  bool cyanFound = false;
  for (int y = 184 - 44; y <= 184 - 36; ++y) cyanFound |= b.Bitmap(column, y) == Color{1, 254, 254};
  EXPECT_TRUE(cyanFound);
}

}  // namespace
}  // namespace velmora
