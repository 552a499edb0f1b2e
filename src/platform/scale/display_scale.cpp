#include "platform/scale/display_scale.h"

#include <cstdlib>
#include <cstring>

namespace velmora {
namespace {

// A whole number 1..kMaxDisplayScale, or 0.
int WholeScale(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 1 || value > kMaxDisplayScale) return 0;
  return static_cast<int>(value);
}

}  // namespace

int ScaleSetting(const char* velmoraScale, std::string& warning) {
  if (velmoraScale == nullptr || *velmoraScale == '\0') return 0;
  if (const int scale = WholeScale(velmoraScale)) return scale;
  warning = std::string("velmora: VELMORA_SCALE must be a whole number from 1 to 8, not '") +
            velmoraScale + "'; drawing at scale 1";
  return 1;
}

int ScaleForDpi(int dpi) {
  constexpr int kBaseDpi = 96;
  return dpi < kBaseDpi                       ? 1
         : dpi >= kBaseDpi * kMaxDisplayScale ? kMaxDisplayScale
                                              : dpi / kBaseDpi;
}

int DisplayScale(const char* velmoraScale, const char* gdkScale, int xftDpi, std::string& warning) {
  if (const int scale = ScaleSetting(velmoraScale, warning)) return scale;
  if (const int scale = WholeScale(gdkScale)) return scale;
  if (xftDpi >= 240) return 3;
  if (xftDpi >= 144) return 2;
  return 1;
}

int XftDpiFrom(const char* resources) {
  if (resources == nullptr) return 0;
  // Lines of "name:\tvalue"; the desktop writes Xft.dpi as a whole or decimal number.
  for (const char* line = resources; *line != '\0';) {
    const char* next = std::strchr(line, '\n');
    const size_t length = next ? static_cast<size_t>(next - line) : std::strlen(line);
    constexpr const char kName[] = "Xft.dpi:";
    if (length > sizeof kName - 1 && std::strncmp(line, kName, sizeof kName - 1) == 0) {
      const double dpi = std::strtod(line + sizeof kName - 1, nullptr);
      return dpi > 0 && dpi < 10000 ? static_cast<int>(dpi) : 0;
    }
    if (next == nullptr) break;
    line = next + 1;
  }
  return 0;
}

std::vector<uint32_t> ScalePixels(const std::vector<uint32_t>& pixels, int width, int height,
                                  int scale) {
  std::vector<uint32_t> out(static_cast<size_t>(width) * scale * height * scale);
  const size_t outWidth = static_cast<size_t>(width) * scale;
  for (int y = 0; y < height; ++y) {
    uint32_t* row = out.data() + static_cast<size_t>(y) * scale * outWidth;
    for (int x = 0; x < width; ++x) {
      const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
      for (int k = 0; k < scale; ++k) row[static_cast<size_t>(x) * scale + k] = p;
    }
    for (int k = 1; k < scale; ++k) {
      std::memcpy(row + k * outWidth, row, outWidth * sizeof(uint32_t));
    }
  }
  return out;
}

}  // namespace velmora
