// The window's text with the Linux font: each status label, drawn twice (at x
// and x + 1) as the rows draw it, leaves 2 px before its value at x + 48, and
// the longest values stay inside the 264-px row box.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "platform/freetype/freetype_text.h"
#include "platform/raster/raster.h"
#include "platform/web/baked_text.h"

namespace velmora {
namespace {

constexpr Color kWhite{255, 255, 255};
constexpr int kValueOffset = 48;  // the value's x from the label's
// The row box runs from x = 8 to 272, its outline in the last column; a row's
// text starts at 12, its value at 60.
constexpr int kValueRoom = 272 - 1 - 60;

// The last column the text marks when drawn twice from x = 0; -1 for none.
int InkEnd(FreeTypeText& text, const std::string& s) {
  Raster r(400, 24, kWhite);
  text.Draw(r, 0, 0, Color{0, 0, 0}, s);
  text.Draw(r, 1, 0, Color{0, 0, 0}, s);
  int end = -1;
  for (int y = 0; y < r.Height(); ++y) {
    for (int x = 0; x < r.Width(); ++x) {
      if (r.Pixel(x, y) != Raster::Pack(kWhite) && x > end) end = x;
    }
  }
  return end;
}

TEST(TextFitTest, LabelsLeaveRoomAndValuesStayInTheirBox) {
  FreeTypeText text;
  if (!text.Ready()) GTEST_SKIP() << "no font at " << text.Path();
  for (const char* label : {"STATE", "TIMER", "SLEEP", "POWER"}) {
    const int end = InkEnd(text, label);
    EXPECT_GT(end, 20) << label;  // drawn at all
    EXPECT_LE(end, kValueOffset - 3) << label << " ends at " << end;
  }
  for (const char* value :
       {"Light-8 Range 0:8 LPT 03bc", "NREM4 Delta 47.8 x 0.40 Hz", "Start 23:59 to 11:47 finish",
        "REM 14 (time+6)  Moon 29.5/87", "23:59 is finished.Now healing."}) {
    const int end = InkEnd(text, value);
    EXPECT_GT(end, 100) << value;
    EXPECT_LT(end, kValueRoom) << value << " ends at " << end;
  }
}

}  // namespace
// The web build's baked letters are the desktop's, pixel for pixel, on any
// background: every printable character, alone and in runs (the pen's
// advances add up as FreeType's do).
TEST(TextFitTest, BakedTextDrawsTheDesktopsPixels) {
  FreeTypeText freetype;
  if (!freetype.Ready()) GTEST_SKIP() << "no font at " << freetype.Path();
  BakedText baked;
  std::string all;
  for (char c = ' '; c <= '~'; ++c) all += c;
  for (const std::string& s : {all, std::string("CPU task is heavy!"),
                               std::string("23:59 is finished.Now healing."), std::string("\\")}) {
    Raster a(900, 16, Color{30, 60, 90}), b(900, 16, Color{30, 60, 90});
    a.Fill(0, 8, 900, 16, Color{200, 10, 10});
    b.Fill(0, 8, 900, 16, Color{200, 10, 10});
    freetype.Draw(a, 3, 1, Color{250, 240, 0}, s);
    baked.Draw(b, 3, 1, Color{250, 240, 0}, s);
    EXPECT_EQ(a.Pixels(), b.Pixels()) << s;
  }
}

}  // namespace velmora
