#include "platform/freetype/freetype_text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace velmora {
namespace {

FT_Library Library(void* p) {
  return static_cast<FT_Library>(p);
}
FT_Face Face(void* p) {
  return static_cast<FT_Face>(p);
}

// 26.6 fixed point to whole pixels, rounding up.
int Ceil26(FT_Pos v) {
  return static_cast<int>((v + 63) >> 6);
}

// The next code point of UTF-8 `text` from `i`; a broken sequence gives U+FFFD.
char32_t NextCodePoint(std::string_view text, size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (extra < 0) return 0xFFFD;
  char32_t c = lead & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  }
  return c;
}

}  // namespace

FreeTypeText::FreeTypeText(int pixelSize) {
  const char* custom = std::getenv("VELMORA_FONT");
  path_ = custom && *custom ? custom : kDefaultFont;
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    std::fprintf(stderr, "velmora: no text: FreeType does not start\n");
    return;
  }
  library_ = library;
  FT_Face face = nullptr;
  if (FT_New_Face(library, path_.c_str(), 0, &face) != 0 ||
      FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
    if (face) FT_Done_Face(face);
    std::fprintf(stderr,
                 "velmora: no text: cannot open the font %s (not a font FreeType reads); install "
                 "fonts-dejavu-core or set VELMORA_FONT to a .ttf file\n",
                 path_.c_str());
    return;
  }
  face_ = face;
  ascent_ = FT_IS_SCALABLE(face) ? Ceil26(FT_MulFix(face->ascender, face->size->metrics.y_scale))
                                 : Ceil26(face->size->metrics.ascender);
}

FreeTypeText::~FreeTypeText() {
  if (face_) FT_Done_Face(Face(face_));
  if (library_) FT_Done_FreeType(Library(library_));
}

bool FreeTypeText::Render(char32_t c, GlyphImage& glyph) {
  if (!face_) return false;
  const FT_Face face = Face(face_);
  const FT_UInt index = FT_Get_Char_Index(face, c);
  if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL) != 0) return false;
  const FT_GlyphSlot slot = face->glyph;
  glyph = GlyphImage{};
  glyph.advance = slot->advance.x;
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return true;
  // Rows packed without the bitmap's padding.
  const FT_Bitmap& bitmap = slot->bitmap;
  packed_.resize(static_cast<size_t>(bitmap.rows) * bitmap.width);
  for (unsigned row = 0; row < bitmap.rows; ++row) {
    const unsigned char* line = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
    std::copy_n(line, bitmap.width, packed_.data() + static_cast<size_t>(row) * bitmap.width);
  }
  glyph.left = slot->bitmap_left;
  glyph.top = slot->bitmap_top;
  glyph.width = static_cast<int>(bitmap.width);
  glyph.rows = static_cast<int>(bitmap.rows);
  glyph.coverage = packed_.data();
  return true;
}

void FreeTypeText::Draw(Raster& raster, int x, int y, Color color, std::string_view text) {
  // No kerning: the pen moves by the hinted advances alone, as the window's
  // text always has.
  long pen = 0;  // 26.6
  GlyphImage glyph;
  for (size_t i = 0; i < text.size();) {
    if (!Render(NextCodePoint(text, i), glyph)) continue;
    BlendGlyph(raster, x + static_cast<int>(pen >> 6), y, ascent_, glyph, color);
    pen += glyph.advance;
  }
}

}  // namespace velmora
