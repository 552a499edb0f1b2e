#include "platform/raster/raster_canvas.h"

#include <cstddef>

namespace velmora {

void BlendGlyph(Raster& raster, int penX, int y, int ascent, const GlyphImage& glyph, Color color) {
  const int left = penX + glyph.left;
  const int top = y + ascent - glyph.top;
  for (int row = 0; row < glyph.rows; ++row) {
    const uint8_t* line = glyph.coverage + static_cast<ptrdiff_t>(row) * glyph.width;
    for (int col = 0; col < glyph.width; ++col) {
      if (line[col] != 0) raster.Blend(left + col, top + row, color, line[col]);
    }
  }
}

RasterCanvas::RasterCanvas(int width, int height, TextRenderer* text)
    : bitmap_(width, height), window_(width, height), text_(text) {}

void RasterCanvas::Rectangle(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  bitmap_.Fill(left, top, right, bottom, brush_);
  // A pen of width w draws its outline inside the rectangle.
  const int w = penWidth_ < 1 ? 1 : penWidth_;
  bitmap_.Fill(left, top, right, top + w, pen_);
  bitmap_.Fill(left, bottom - w, right, bottom, pen_);
  bitmap_.Fill(left, top, left + w, bottom, pen_);
  bitmap_.Fill(right - w, top, right, bottom, pen_);
}

void RasterCanvas::LineTo(int x, int y) {
  bitmap_.Line(x_, y_, x, y, pen_, penWidth_);
  x_ = x;
  y_ = y;
}

void RasterCanvas::TextOut(int x, int y, std::string_view text) {
  if (text_) text_->Draw(bitmap_, x, y, textColor_, text);
}

}  // namespace velmora
