#include "platform/win32/gdi_canvas.h"

#include <algorithm>
#include <string>

namespace velmora {
namespace {

COLORREF ColorRef(Color c) {
  return RGB(c.r, c.g, c.b);
}

}  // namespace

GdiCanvas::~GdiCanvas() {
  if (memory_) {
    SelectObject(memory_, firstBitmap_);
    DeleteDC(memory_);
  }
  if (bitmap_) DeleteObject(bitmap_);
  if (font_) DeleteObject(font_);
  for (auto& [key, pen] : pens_) DeleteObject(pen);
  for (auto& [key, brush] : brushes_) DeleteObject(brush);
}

HDC GdiCanvas::Bitmap() {
  if (memory_ == nullptr) {
    const HDC screen = GetDC(nullptr);
    memory_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width_, height_);
    ReleaseDC(nullptr, screen);
    firstBitmap_ = SelectObject(memory_, bitmap_);
    SetBkMode(memory_, TRANSPARENT);
    if (systemDpi_ != 96) {
      LOGFONTA font{};
      if (GetObjectA(GetCurrentObject(memory_, OBJ_FONT), sizeof font, &font) == sizeof font) {
        font.lfHeight = MulDiv(font.lfHeight, 96, systemDpi_);
        font.lfWidth = MulDiv(font.lfWidth, 96, systemDpi_);
        font_ = CreateFontIndirectA(&font);
        if (font_ != nullptr) SelectObject(memory_, font_);
      }
    }
  }
  return memory_;
}

HPEN GdiCanvas::Pen(Color color, int width) {
  const uint32_t key = static_cast<uint32_t>(width) << 24 | ColorRef(color);
  auto found = pens_.find(key);
  if (found == pens_.end()) {
    found = pens_.emplace(key, CreatePen(PS_SOLID, width, ColorRef(color))).first;
  }
  return found->second;
}

void GdiCanvas::SelectPen(Color color, int width) {
  SelectObject(Bitmap(), Pen(color, width));
}

HBRUSH GdiCanvas::Brush(Color color) {
  const COLORREF key = ColorRef(color);
  auto found = brushes_.find(key);
  if (found == brushes_.end()) found = brushes_.emplace(key, CreateSolidBrush(key)).first;
  return found->second;
}

void GdiCanvas::SelectBrush(Color color) {
  SelectObject(Bitmap(), Brush(color));
}

void GdiCanvas::Rectangle(int left, int top, int right, int bottom) {
  ::Rectangle(Bitmap(), left, top, right, bottom);
}

void GdiCanvas::MoveTo(int x, int y) {
  MoveToEx(Bitmap(), x, y, nullptr);
}

void GdiCanvas::LineTo(int x, int y) {
  ::LineTo(Bitmap(), x, y);
}

void GdiCanvas::SetTextColor(Color color) {
  ::SetTextColor(Bitmap(), ColorRef(color));
}

void GdiCanvas::TextOut(int x, int y, std::string_view text) {
  const std::string line(text);
  TextOutA(Bitmap(), x, y, line.c_str(), static_cast<int>(line.size()));
}

void GdiCanvas::BeginPaint() {
  if (window_) windowDc_ = ::BeginPaint(window_, &paint_);
}

void GdiCanvas::CopyToWindow(int x, int y, int width, int height) {
  if (!windowDc_) return;
  if (scale_ == 1) {
    BitBlt(windowDc_, x, y, width, height, Bitmap(), x, y, SRCCOPY);
    return;
  }
  SetStretchBltMode(windowDc_, COLORONCOLOR);
  StretchBlt(windowDc_, x * scale_, y * scale_, width * scale_, height * scale_, Bitmap(), x, y,
             width, height, SRCCOPY);
}

void GdiCanvas::WindowLine(Color color, int x0, int y0, int x1, int y1) {
  if (!windowDc_) return;
  if (scale_ != 1 && (x0 == x1 || y0 == y1)) {
    // The pixels the line covers at scale 1 (its last point left out, as
    // LineTo leaves it), each a square.
    RECT r{std::min(x0, x1) * scale_, std::min(y0, y1) * scale_, std::max(x0, x1) * scale_,
           std::max(y0, y1) * scale_};
    if (x0 == x1) r.right = r.left + scale_;
    if (y0 == y1) r.bottom = r.top + scale_;
    FillRect(windowDc_, &r, Brush(color));
    return;
  }
  const HGDIOBJ before = SelectObject(windowDc_, Pen(color, scale_));
  MoveToEx(windowDc_, x0 * scale_, y0 * scale_, nullptr);
  ::LineTo(windowDc_, x1 * scale_, y1 * scale_);
  SelectObject(windowDc_, before);
}

Color GdiCanvas::BitmapPixel(int x, int y) {
  const COLORREF c = GetPixel(Bitmap(), x, y);
  return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

void GdiCanvas::EndPaint() {
  if (windowDc_) ::EndPaint(window_, &paint_);
  windowDc_ = nullptr;
}

}  // namespace velmora
