// RasterCanvas: the canvas in software, over two rasters, the off-screen
// bitmap and the window's own pixels. Text comes from a TextRenderer (a font
// of the platform's). Used by the SDL back-end, the chart PNG and the tests.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/canvas.h"
#include "platform/raster/raster.h"

namespace velmora {

// Draws text in a colour onto a raster, top-left at (x, y), blending only the
// glyphs' own pixels.
class TextRenderer {
 public:
  virtual ~TextRenderer() = default;
  virtual void Draw(Raster& raster, int x, int y, Color color, std::string_view text) = 0;
};

// One glyph as a text renderer draws it: its coverage bitmap, its place
// from the pen (left) and from the baseline (top, upwards), and the pen's
// advance in 26.6 fixed point.
struct GlyphImage {
  int left = 0, top = 0, width = 0, rows = 0;
  long advance = 0;
  const uint8_t* coverage = nullptr;  // rows * width bytes
};

// Blends `glyph` with the pen at `penX` (pixels) on the line whose top is
// `y` and whose baseline lies `ascent` below it. Both text renderers draw so.
void BlendGlyph(Raster& raster, int penX, int y, int ascent, const GlyphImage& glyph, Color color);

class RasterCanvas final : public Canvas {
 public:
  RasterCanvas(int width, int height, TextRenderer* text);

  void SelectPen(Color color, int width) override {
    pen_ = color;
    penWidth_ = width;
  }
  void SelectBrush(Color color) override { brush_ = color; }
  void Rectangle(int left, int top, int right, int bottom) override;
  void MoveTo(int x, int y) override {
    x_ = x;
    y_ = y;
  }
  void LineTo(int x, int y) override;
  void SetTextColor(Color color) override { textColor_ = color; }
  void TextOut(int x, int y, std::string_view text) override;

  void BeginPaint() override {}
  void CopyToWindow(int x, int y, int width, int height) override {
    window_.CopyFrom(bitmap_, x, y, width, height);
  }
  void WindowLine(Color color, int x0, int y0, int x1, int y1) override {
    window_.Line(x0, y0, x1, y1, color, 1);
  }
  void EndPaint() override { ++paints_; }

  const Raster& Bitmap() const { return bitmap_; }
  const Raster& Window() const { return window_; }
  int Paints() const { return paints_; }

 private:
  Raster bitmap_;
  Raster window_;
  TextRenderer* text_;
  Color pen_{}, brush_{}, textColor_{};
  int penWidth_ = 1;
  int x_ = 0, y_ = 0;
  int paints_ = 0;
};

}  // namespace velmora
