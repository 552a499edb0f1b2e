#include "platform/web/baked_text.h"

namespace velmora {
namespace {

#include "platform/web/baked_glyphs.inc"

}  // namespace

void BakedText::Draw(Raster& raster, int x, int y, Color color, std::string_view text) {
  long pen = 0;  // 26.6, as FreeTypeText moves it: no kerning
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < kFirstBaked || code > kLastBaked) continue;
    const BakedGlyph& b = kBakedGlyphs[code - kFirstBaked];
    const GlyphImage glyph{b.left, b.top, b.width, b.rows, b.advance, kBakedCoverage + b.coverage};
    BlendGlyph(raster, x + static_cast<int>(pen >> 6), y, kBakedAscent, glyph, color);
    pen += glyph.advance;
  }
}

}  // namespace velmora
