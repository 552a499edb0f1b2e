#include "platform/raster/raster.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

namespace velmora {

Raster::Raster(int width, int height, Color fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, Pack(fill)) {}

Color Raster::ColorAt(int x, int y) const {
  const uint32_t p = Pixel(x, y);
  return {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)};
}

void Raster::Plot(int x, int y, Color c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<size_t>(y) * width_ + x] = Pack(c);
}

void Raster::Fill(int left, int top, int right, int bottom, Color c) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, width_);
  bottom = std::min(bottom, height_);
  const uint32_t packed = Pack(c);
  for (int y = top; y < bottom; ++y) {
    std::fill_n(pixels_.begin() + static_cast<std::ptrdiff_t>(y) * width_ + left,
                std::max(right - left, 0), packed);
  }
}

void Raster::Line(int x0, int y0, int x1, int y1, Color c, int width) {
  auto stamp = [&](int x, int y) {
    if (width <= 1) {
      Plot(x, y, c);
    } else {
      Fill(x - width / 2, y - width / 2, x - width / 2 + width, y - width / 2 + width, c);
    }
  };
  // Bresenham over the longer axis; the end point is not drawn.
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  int x = x0, y = y0;
  while (x != x1 || y != y1) {
    stamp(x, y);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

void Raster::Blend(int x, int y, Color c, uint8_t coverage) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || coverage == 0) return;
  const Color old = ColorAt(x, y);
  auto mix = [coverage](uint8_t from, uint8_t to) {
    return static_cast<uint8_t>((from * (255 - coverage) + to * coverage + 127) / 255);
  };
  Plot(x, y, {mix(old.r, c.r), mix(old.g, c.g), mix(old.b, c.b)});
}

void Raster::CopyFrom(const Raster& from, int x, int y, int width, int height) {
  const int left = std::max(x, 0), top = std::max(y, 0);
  const int right = std::min({x + width, width_, from.width_});
  const int bottom = std::min({y + height, height_, from.height_});
  for (int row = top; row < bottom; ++row) {
    for (int col = left; col < right; ++col) {
      pixels_[static_cast<size_t>(row) * width_ + col] = from.Pixel(col, row);
    }
  }
}

}  // namespace velmora
