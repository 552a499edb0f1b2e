// The window's scale: VELMORA_SCALE, the desktop's factor, a bad value;
// Windows' dots per inch; the Xft.dpi resource; the pixel-for-pixel
// enlargement.
#include "platform/scale/display_scale.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace velmora {
namespace {

TEST(DisplayScaleTest, WhereTheFactorComesFrom) {
  struct Case {
    const char* velmora;
    const char* gdk;
    int dpi;
    int scale;
    bool warns;
  };
  for (const Case& c : std::initializer_list<Case>{
           {nullptr, nullptr, 0, 1, false},
           {"2", nullptr, 0, 2, false},
           {"8", "3", 300, 8, false},
           {"1", "2", 300, 1, false},  // the user's word wins
           {"0", "2", 0, 1, true},
           {"9", nullptr, 0, 1, true},
           {"x", nullptr, 0, 1, true},
           {"2x", nullptr, 0, 1, true},
           {"-1", nullptr, 0, 1, true},
           {"", "2", 0, 2, false},  // set but empty: as unset
           {nullptr, "2", 96, 2, false},
           {nullptr, "0", 144, 2, false},  // a GDK_SCALE out of range is passed over
           {nullptr, nullptr, 143, 1, false},
           {nullptr, nullptr, 144, 2, false},
           {nullptr, nullptr, 239, 2, false},
           {nullptr, nullptr, 240, 3, false},
       }) {
    std::string warning;
    const std::string name = std::string(c.velmora ? c.velmora : "unset") + "/" +
                             (c.gdk ? c.gdk : "unset") + "/" + std::to_string(c.dpi);
    EXPECT_EQ(DisplayScale(c.velmora, c.gdk, c.dpi, warning), c.scale) << name;
    EXPECT_EQ(!warning.empty(), c.warns) << name;
    if (c.warns) {
      EXPECT_EQ(warning, std::string("velmora: VELMORA_SCALE must be a whole number from 1 to 8, "
                                     "not '") +
                             c.velmora + "'; drawing at scale 1");
    }
  }
}

// Windows' dots per inch: the lower whole factor of 96.
TEST(DisplayScaleTest, WindowsDotsPerInch) {
  const std::pair<int, int> cases[] = {{0, 1},   {72, 1},  {96, 1},  {120, 1}, {144, 1}, {191, 1},
                                       {192, 2}, {240, 2}, {288, 3}, {767, 7}, {768, 8}, {2000, 8}};
  for (const auto& [dpi, scale] : cases) EXPECT_EQ(ScaleForDpi(dpi), scale) << dpi;
}

TEST(DisplayScaleTest, XftDpiFromTheResources) {
  struct Case {
    const char* resources;
    int dpi;
  };
  for (const Case& c : std::initializer_list<Case>{
           {nullptr, 0},
           {"", 0},
           {"Xft.dpi:\t192\n", 192},
           {"Xcursor.size:\t24\nXft.antialias:\t1\nXft.dpi:\t144.5\nXft.hinting:\t1\n", 144},
           {"Xft.dpix:\t192\n", 0},
           {"Xft.dpi:\tnonsense\n", 0},
           {"Xft.dpi:\t240", 240},
       }) {
    EXPECT_EQ(XftDpiFrom(c.resources), c.dpi) << (c.resources ? c.resources : "null");
  }
}

TEST(DisplayScaleTest, EveryPixelIsASquareOfTheOriginal) {
  const int w = 5, h = 3;
  std::vector<uint32_t> pixels(w * h);
  for (int i = 0; i < w * h; ++i) pixels[i] = 0x010203u * static_cast<uint32_t>(i + 1);
  for (int scale : {1, 2, 3, 8}) {
    const std::vector<uint32_t> out = ScalePixels(pixels, w, h, scale);
    ASSERT_EQ(out.size(), static_cast<size_t>(w * scale * h * scale)) << scale;
    int wrong = 0;
    for (int y = 0; y < h * scale; ++y) {
      for (int x = 0; x < w * scale; ++x) {
        wrong += out[y * w * scale + x] != pixels[(y / scale) * w + x / scale];
      }
    }
    EXPECT_EQ(wrong, 0) << scale;
  }
}

}  // namespace
}  // namespace velmora
