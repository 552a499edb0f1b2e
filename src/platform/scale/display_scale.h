// How many screen pixels each of the window's pixels takes: VELMORA_SCALE
// (1..8) when set, else the desktop's own factor. On X, GDK_SCALE, else
// Xft.dpi (144 and above gives 2, 240 and above 3); on Windows, the window's
// dots per inch (96 gives 1, 192 gives 2, 288 gives 3, and in between the
// lower); else 1. The picture itself stays 288 x 272; only its copy to the
// window is scaled, pixel by pixel, so it stays sharp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

inline constexpr int kMaxDisplayScale = 8;

// The factor VELMORA_SCALE's value asks for, 0 when it is unset or empty. A
// bad value gives 1 and says why in `warning`.
int ScaleSetting(const char* velmoraScale, std::string& warning);

// The whole factor for a display of `dpi` dots per inch (Windows' rule).
int ScaleForDpi(int dpi);

// `velmoraScale` and `gdkScale` are the variables' values (null or empty when unset),
// `xftDpi` the X resource's value (0 when unknown). A bad VELMORA_SCALE gives
// 1 and says why in `warning`.
int DisplayScale(const char* velmoraScale, const char* gdkScale, int xftDpi, std::string& warning);

// The dots per inch X's resource database gives for Xft.dpi (as desktops set
// it), or 0.
int XftDpiFrom(const char* resources);

// `pixels` (0xRRGGBB, `width` x `height`) enlarged `scale` times, each pixel a
// square of `scale` x `scale`.
std::vector<uint32_t> ScalePixels(const std::vector<uint32_t>& pixels, int width, int height,
                                  int scale);

}  // namespace velmora
