// Rectangles, points and colours of the capture subsystem, with the integer
// rules the window system applies to them: left and top inside, right and
// bottom outside; all coordinates are client pixels of the capture window.
#pragma once

#include <cstdint>

namespace parlex {

struct Point {
  int32_t x = 0;
  int32_t y = 0;

  friend constexpr bool operator==(const Point&, const Point&) = default;
};

struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  friend constexpr bool operator==(const Rect&, const Rect&) = default;  // EqualRect
};

// PtInRect: left <= x < right and top <= y < bottom.
constexpr bool PtInRect(const Rect& r, Point p) {
  return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

// IsRectEmpty: no pixel inside, which includes every inverted rectangle.
constexpr bool IsRectEmpty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

// InflateRect: left - dx, right + dx, top - dy, bottom + dy (negative amounts shrink).
constexpr Rect Inflated(const Rect& r, int32_t dx, int32_t dy) {
  return Rect{r.left - dx, r.top - dy, r.right + dx, r.bottom + dy};
}

// IntersectRect: the common part; (0, 0, 0, 0) when the two do not overlap
// (an empty or inverted rectangle overlaps nothing).
constexpr Rect Intersection(const Rect& a, const Rect& b) {
  const Rect r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
               a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
  return IsRectEmpty(r) ? Rect{} : r;
}

constexpr Rect Offset(const Rect& r, int32_t dx, int32_t dy) {
  return Rect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

// The same rectangle with its edges in order (left <= right, top <= bottom),
// the way region and rectangle-region calls of the window system read
// inverted corners.
constexpr Rect Ordered(const Rect& r) {
  Rect o = r;
  if (o.left > o.right) {
    o.left = r.right;
    o.right = r.left;
  }
  if (o.top > o.bottom) {
    o.top = r.bottom;
    o.bottom = r.top;
  }
  return o;
}

// A colour as 0x00RRGGBB (red in bits 16-23, blue in bits 0-7). Note that the
// Windows COLORREF is 0x00BBGGRR: the GDI canvas converts at its edge.
using Color = uint32_t;

constexpr Color Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return (uint32_t{r} << 16) | (uint32_t{g} << 8) | uint32_t{b};
}
constexpr uint8_t RedOf(Color c) { return static_cast<uint8_t>(c >> 16); }
constexpr uint8_t GreenOf(Color c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t BlueOf(Color c) { return static_cast<uint8_t>(c); }

}  // namespace parlex
