// GdiCanvas: the Canvas of canvas.h on a Windows device context. Every
// primitive is the GDI call of the same name; the canvas creates and deletes
// the pens and brushes behind the Canvas values itself.
//
// The DC is borrowed. The constructor saves its state (SaveDC) and puts it in
// the fresh state Canvas promises (black solid pen, white solid brush, copy
// mode, opaque white background, position (0, 0), no clip rectangle); the
// destructor gives the DC back as it was (RestoreDC) and deletes what the
// canvas created.
#pragma once

#include <windows.h>

#include "capture/canvas.h"
#include "platform/win32/scoped_handle.h"

namespace parlex::win32 {

// 0x00RRGGBB (Canvas) to 0x00BBGGRR (COLORREF) and back.
inline COLORREF ToColorRef(Color c) { return RGB(RedOf(c), GreenOf(c), BlueOf(c)); }
inline Color FromColorRef(COLORREF c) { return Rgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

// A GDI brush for a Canvas brush, owned by the caller (deleting the stock
// null brush is harmless). Pattern brushes use the
// shared tracker hatch bitmap when the pattern is that hatch, else a bitmap
// made for the call.
ScopedGdiObject<HBRUSH> CreateGdiBrush(const Brush& brush);

// A bitmap compatible with the screen holding a pattern's pixels, for the
// caller to delete; null for an empty pattern or when GDI refuses.
HBITMAP CreatePatternBitmap(const BrushPattern& pattern);

class GdiCanvas final : public Canvas {
 public:
  explicit GdiCanvas(HDC dc);
  ~GdiCanvas() override;
  GdiCanvas(const GdiCanvas&) = delete;
  GdiCanvas& operator=(const GdiCanvas&) = delete;

  HDC Dc() const { return dc_; }

  RasterMode SetRasterMode(RasterMode mode) override;
  Pen SelectPen(const Pen& pen) override;
  Brush SelectBrush(const Brush& brush) override;
  BackgroundMode SetBackgroundMode(BackgroundMode mode) override;
  Color SetBackgroundColor(Color color) override;
  void SetClipRect(const Rect* clip) override;

  Point MoveTo(Point to) override;
  void LineTo(Point to) override;

  void FillRect(const Rect& rect, const Brush& brush) override;
  void FrameRect(const Rect& rect, const Brush& brush) override;
  void SetPixel(Point p, Color color) override;

  void Polygon(const Point* points, size_t count) override;
  void Ellipse(const Rect& bounds) override;
  void Rectangle(const Rect& bounds) override;

 private:
  HDC dc_;
  int saved_;
  RasterMode mode_ = RasterMode::kCopyPen;
  Pen pen_{PenStyle::kSolid, 0};
  Brush brush_ = Brush::Solid(0xFFFFFF);
  // Selected into dc_ while the canvas lives; deleted after the DC is
  // restored to its own objects.
  ScopedGdiObject<HPEN> penObject_;
  ScopedGdiObject<HBRUSH> brushObject_;
};

}  // namespace parlex::win32
