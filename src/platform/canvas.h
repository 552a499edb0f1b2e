// Canvas service: drawing into the off-screen bitmap with the conventions of a
// GDI memory context (solid pens and brushes, rectangles with right and bottom
// edges exclusive, lines without their end point, transparent text at its
// top-left), and putting the bitmap, or a line of its own, on the window.
//
// Thread safety: window thread only.
#pragma once

#include <cstdint>
#include <string_view>

namespace velmora {

struct Color {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Color&, const Color&) = default;
};

class Canvas {
 public:
  virtual ~Canvas() = default;

  // The off-screen bitmap.
  virtual void SelectPen(Color color, int width) = 0;
  virtual void SelectBrush(Color color) = 0;
  // Outline with the pen, inside with the brush; right and bottom exclusive.
  virtual void Rectangle(int left, int top, int right, int bottom) = 0;
  virtual void MoveTo(int x, int y) = 0;
  // A line with the pen from the present point to (x, y), that point excluded.
  virtual void LineTo(int x, int y) = 0;
  virtual void SetTextColor(Color color) = 0;
  // Text with its top-left at (x, y), the background left as it is.
  virtual void TextOut(int x, int y, std::string_view text) = 0;

  // The window, between BeginPaint and EndPaint.
  virtual void BeginPaint() = 0;
  // Copies the bitmap's rectangle to the same place on the window.
  virtual void CopyToWindow(int x, int y, int width, int height) = 0;
  // A line of width 1 straight onto the window, the end point excluded.
  virtual void WindowLine(Color color, int x0, int y0, int x1, int y1) = 0;
  virtual void EndPaint() = 0;
};

}  // namespace velmora
