// Raster: a block of 0xRRGGBB pixels with the few drawing operations the
// painter needs, following GDI's pixel rules. Used for the off-screen bitmap
// and the window's pixels by the software canvas.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/canvas.h"

namespace velmora {

class Raster {
 public:
  Raster(int width, int height, Color fill = {});

  int Width() const { return width_; }
  int Height() const { return height_; }
  uint32_t Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  Color ColorAt(int x, int y) const;
  const std::vector<uint32_t>& Pixels() const { return pixels_; }

  // Pixels outside the raster are ignored everywhere.
  void Plot(int x, int y, Color c);
  // Columns left..right-1, rows top..bottom-1.
  void Fill(int left, int top, int right, int bottom, Color c);
  // A line from (x0, y0) to (x1, y1) without its end point. Width 1 sets the
  // line's own pixels; width 2 a 2 x 2 block from each pixel up and left, so
  // the line is centred on its path as a geometric pen's is.
  void Line(int x0, int y0, int x1, int y1, Color c, int width);
  // Mixes `c` into the pixel by coverage 0..255 (text edges).
  void Blend(int x, int y, Color c, uint8_t coverage);
  // Copies a rectangle of `from` to the same place here.
  void CopyFrom(const Raster& from, int x, int y, int width, int height);

  static uint32_t Pack(Color c) { return uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b; }

 private:
  int width_;
  int height_;
  std::vector<uint32_t> pixels_;
};

}  // namespace velmora
