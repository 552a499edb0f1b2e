// BakedText: the window's text from glyphs made ahead of time by
// velmora-bake-glyphs out of the desktop's font, so the web build draws the
// very pixels FreeTypeText draws without FreeType or a font file. Printable
// ASCII only; other characters are skipped.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/raster/raster_canvas.h"

namespace velmora {

inline constexpr char32_t kFirstBaked = 32;
inline constexpr char32_t kLastBaked = 126;

struct BakedGlyph {
  int16_t left, top, width, rows;
  int32_t advance;  // 26.6
  uint32_t coverage;
};

class BakedText final : public TextRenderer {
 public:
  void Draw(Raster& raster, int x, int y, Color color, std::string_view text) override;
};

}  // namespace velmora
