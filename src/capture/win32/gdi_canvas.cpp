#include "capture/win32/gdi_canvas.h"

#include <utility>
#include <vector>

#include "capture/win32/tracker_resources_win32.h"
#include "platform/win32/scoped_handle.h"

namespace parlex::win32 {
namespace {

// ~(pattern ^ destination): the raster operation PDxn, which PatBlt needs for
// a not-xor pixel since SetPixel itself ignores the ROP2 mode.
constexpr DWORD kRopPatNotXorDst = 0x00A50065;

int ToPenStyle(PenStyle style) {
  switch (style) {
    case PenStyle::kSolid:
      return PS_SOLID;
    case PenStyle::kDash:
      return PS_DASH;
    case PenStyle::kDot:
      return PS_DOT;
    case PenStyle::kDashDot:
      return PS_DASHDOT;
    case PenStyle::kDashDotDot:
      return PS_DASHDOTDOT;
    case PenStyle::kNull:
      return PS_NULL;
  }
  return PS_SOLID;
}

bool SamePattern(const BrushPattern& a, const BrushPattern& b) {
  return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

RECT ToRect(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

}  // namespace

HBITMAP CreatePatternBitmap(const BrushPattern& pattern) {
  if (pattern.width <= 0 || pattern.height <= 0 ||
      pattern.pixels.size() < static_cast<size_t>(pattern.width * pattern.height))
    return nullptr;
  ScopedGdiObject<HBITMAP> bitmap;
  ScopedCreatedDc mem;
  {
    ScopedWindowDc screen(nullptr);
    if (!screen) return nullptr;
    bitmap.Reset(::CreateCompatibleBitmap(screen.Get(), pattern.width, pattern.height));
    mem.Reset(::CreateCompatibleDC(screen.Get()));
  }
  if (!bitmap || !mem) return nullptr;
  {
    ScopedSelection selected(mem.Get(), bitmap.Get());
    for (int y = 0; y < pattern.height; ++y)
      for (int x = 0; x < pattern.width; ++x) ::SetPixel(mem.Get(), x, y, ToColorRef(pattern.At(x, y)));
  }
  return bitmap.Release();
}

ScopedGdiObject<HBRUSH> CreateGdiBrush(const Brush& brush) {
  using Owned = ScopedGdiObject<HBRUSH>;
  switch (brush.style) {
    case BrushStyle::kNull:
      return Owned(static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH)));
    case BrushStyle::kSolid:
      return Owned(::CreateSolidBrush(ToColorRef(brush.color)));
    case BrushStyle::kPattern: {
      if (!brush.pattern) return Owned();
      // The tracker's hatched band asks for the shared hatch at every paint.
      const BrushPattern* hatch = TrackerHatchPattern();
      if (hatch && TrackerHatchBitmap() && SamePattern(*hatch, *brush.pattern))
        return Owned(::CreatePatternBrush(TrackerHatchBitmap()));
      // The brush keeps its own copy of the bitmap.
      ScopedGdiObject<HBITMAP> bitmap(CreatePatternBitmap(*brush.pattern));
      return bitmap ? Owned(::CreatePatternBrush(bitmap.Get())) : Owned();
    }
  }
  return Owned();
}

GdiCanvas::GdiCanvas(HDC dc) : dc_(dc), saved_(::SaveDC(dc)) {
  ::SetROP2(dc_, R2_COPYPEN);
  ::SetBkMode(dc_, OPAQUE);
  ::SetBkColor(dc_, RGB(255, 255, 255));
  ::SetPolyFillMode(dc_, ALTERNATE);
  ::SetBrushOrgEx(dc_, 0, 0, nullptr);
  ::MoveToEx(dc_, 0, 0, nullptr);
  ::SelectClipRgn(dc_, nullptr);
  penObject_.Reset(::CreatePen(PS_SOLID, 0, RGB(0, 0, 0)));
  if (penObject_) ::SelectObject(dc_, penObject_.Get());
  brushObject_.Reset(::CreateSolidBrush(RGB(255, 255, 255)));
  if (brushObject_) ::SelectObject(dc_, brushObject_.Get());
}

// Restoring the DC selects its own objects back, so ours can go with the
// members.
GdiCanvas::~GdiCanvas() { ::RestoreDC(dc_, saved_); }

RasterMode GdiCanvas::SetRasterMode(RasterMode mode) {
  ::SetROP2(dc_, static_cast<int>(mode));
  return std::exchange(mode_, mode);
}

Pen GdiCanvas::SelectPen(const Pen& pen) {
  ScopedGdiObject<HPEN> created(::CreatePen(ToPenStyle(pen.style), 0, ToColorRef(pen.color)));
  if (created) {
    ::SelectObject(dc_, created.Get());
    penObject_ = std::move(created);
  }
  return std::exchange(pen_, pen);
}

Brush GdiCanvas::SelectBrush(const Brush& brush) {
  ScopedGdiObject<HBRUSH> created = CreateGdiBrush(brush);
  if (created) {
    ::SelectObject(dc_, created.Get());
    brushObject_ = std::move(created);
  }
  return std::exchange(brush_, brush);
}

BackgroundMode GdiCanvas::SetBackgroundMode(BackgroundMode mode) {
  return static_cast<BackgroundMode>(::SetBkMode(dc_, static_cast<int>(mode)));
}

Color GdiCanvas::SetBackgroundColor(Color color) {
  return FromColorRef(::SetBkColor(dc_, ToColorRef(color)));
}

void GdiCanvas::SetClipRect(const Rect* clip) {
  if (!clip) {
    ::SelectClipRgn(dc_, nullptr);
    return;
  }
  const Rect o = Ordered(*clip);
  ScopedGdiObject<HRGN> region(::CreateRectRgn(o.left, o.top, o.right, o.bottom));
  if (region) ::SelectClipRgn(dc_, region.Get());  // the DC keeps a copy
}

Point GdiCanvas::MoveTo(Point to) {
  POINT previous{};
  ::MoveToEx(dc_, to.x, to.y, &previous);
  return Point{previous.x, previous.y};
}

void GdiCanvas::LineTo(Point to) { ::LineTo(dc_, to.x, to.y); }

void GdiCanvas::FillRect(const Rect& rect, const Brush& brush) {
  if (brush.style == BrushStyle::kNull) return;
  ScopedGdiObject<HBRUSH> object = CreateGdiBrush(brush);
  if (!object) return;
  const RECT r = ToRect(rect);
  ::FillRect(dc_, &r, object.Get());
}

void GdiCanvas::FrameRect(const Rect& rect, const Brush& brush) {
  if (brush.style == BrushStyle::kNull) return;
  ScopedGdiObject<HBRUSH> object = CreateGdiBrush(brush);
  if (!object) return;
  const RECT r = ToRect(rect);
  ::FrameRect(dc_, &r, object.Get());
}

void GdiCanvas::SetPixel(Point p, Color color) {
  if (mode_ == RasterMode::kCopyPen) {
    ::SetPixel(dc_, p.x, p.y, ToColorRef(color));
    return;
  }
  // A 1 x 1 PatBlt with a solid brush goes through the not-xor operation
  // (and the clip) exactly as a pen pixel would.
  ScopedGdiObject<HBRUSH> object(::CreateSolidBrush(ToColorRef(color)));
  if (!object) return;
  HGDIOBJ old = ::SelectObject(dc_, object.Get());
  ::PatBlt(dc_, p.x, p.y, 1, 1, kRopPatNotXorDst);
  ::SelectObject(dc_, old);
}

void GdiCanvas::Polygon(const Point* points, size_t count) {
  if (count < 2) return;
  std::vector<POINT> native(count);
  for (size_t i = 0; i < count; ++i) native[i] = POINT{points[i].x, points[i].y};
  ::Polygon(dc_, native.data(), static_cast<int>(count));
}

void GdiCanvas::Ellipse(const Rect& bounds) {
  ::Ellipse(dc_, bounds.left, bounds.top, bounds.right, bounds.bottom);
}

void GdiCanvas::Rectangle(const Rect& bounds) {
  ::Rectangle(dc_, bounds.left, bounds.top, bounds.right, bounds.bottom);
}

}  // namespace parlex::win32
