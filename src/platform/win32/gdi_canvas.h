// GDI canvas: the off-screen bitmap is a bitmap compatible with the screen,
// selected into a memory drawing context; painting copies it to the window
// with BitBlt between BeginPaint and EndPaint. Solid pens and brushes are
// made once per colour and width at first use and kept for the life of the
// process, as the drawing objects are. Text uses the context's default font
// in transparent mode.
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

  int width_;
  int height_;
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
