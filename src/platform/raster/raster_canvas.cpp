#include "platform/raster/raster_canvas.h"

namespace velmora {

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
