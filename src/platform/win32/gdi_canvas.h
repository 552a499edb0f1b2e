// GDI canvas: the off-screen bitmap is a bitmap compatible with the screen,
// selected into a memory drawing context; painting copies it to the window
// between BeginPaint and EndPaint, BitBlt at scale 1, and at a larger scale
// StretchBlt with each pixel a square of the scale's side (COLORONCOLOR: no
// blending, so the picture stays sharp). Everything else is in the bitmap's
// own units; only the copy and the lines drawn on the window are scaled. Solid pens and brushes are
// made once per colour and width at first use and kept for the life of the
// process, as the drawing objects are. Text uses the context's default font
// (as it is at 96 dots per inch) in transparent mode.
//
// Thread safety: window thread only.
#pragma once

#include <cstdint>
#include <map>

#include "platform/canvas.h"
#include "platform/win32/windows_api.h"

namespace velmora {

class GdiCanvas final : public Canvas {
 public:
  GdiCanvas(int width, int height) : width_(width), height_(height) {}
  ~GdiCanvas() override;

  // The window painting goes to; the host sets it as the window is made.
  void SetWindow(HWND window) { window_ = window; }
  // Window pixels a bitmap pixel takes (1..8).
  void SetScale(int scale) { scale_ = scale; }
  // The system's dots per inch, before the first drawing: a program that
  // draws for the display's density gets the default font at that density,
  // and the bitmap's text is drawn with the one of 96 dots per inch instead,
  // so the picture is the same on every display.
  void SetSystemDpi(int dpi) { systemDpi_ = dpi; }
  int Scale() const { return scale_; }

  void SelectPen(Color color, int width) override;
  void SelectBrush(Color color) override;
  void Rectangle(int left, int top, int right, int bottom) override;
  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void SetTextColor(Color color) override;
  void TextOut(int x, int y, std::string_view text) override;

  void BeginPaint() override;
  void CopyToWindow(int x, int y, int width, int height) override;
  void WindowLine(Color color, int x0, int y0, int x1, int y1) override;
  void EndPaint() override;

  // A pixel of the off-screen bitmap, read back.
  Color BitmapPixel(int x, int y);

 private:
  HDC Bitmap();  // the memory context, made at first use
  HPEN Pen(Color color, int width);
  HBRUSH Brush(Color color);

  int width_;
  int height_;
  int scale_ = 1;
  int systemDpi_ = 96;
  HFONT font_ = nullptr;  // the default font at 96 dots per inch, where it differs
  HWND window_ = nullptr;
  HDC memory_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ firstBitmap_ = nullptr;
  std::map<uint32_t, HPEN> pens_;  // by width << 24 | colour
  std::map<COLORREF, HBRUSH> brushes_;
  PAINTSTRUCT paint_{};
  HDC windowDc_ = nullptr;  // between BeginPaint and EndPaint
};

}  // namespace velmora
