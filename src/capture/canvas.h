// The drawing seam of the capture subsystem. Canvas has the semantics of a
// GDI device context, primitive for primitive, so that the tracker and the
// capture dialog draw the same pixels through GdiCanvas (an HDC, Windows) and
// PixelCanvas (a 32-bit buffer: tests, the Linux capture surface). Anything a
// caller can observe in the pixels is fixed here; an implementation that
// differs is wrong, not "close enough".
//
// Conventions every implementation keeps:
// - Coordinates are device pixels of the surface (client pixels of a window),
//   no mapping mode, no world transform, no mirroring.
// - A fresh canvas starts like a fresh DC: black solid pen, white solid
//   brush, raster mode copy, opaque background in white, current position
//   (0, 0), no clip rectangle. Each setter answers the previous value so that
//   callers restore it, as they would after SelectObject or SetROP2.
// - Pens are cosmetic and one pixel wide (CreatePen with width 0). Brushes
//   are values; a GDI implementation creates and deletes the GDI objects
//   behind them itself.
// - The pattern of a brush is aligned to the surface origin (brush origin 0, 0):
//   the pixel (x, y) takes the pattern pixel (x mod w, y mod h).
// - The raster mode (SetROP2) applies to what pens draw (LineTo and the
//   outlines of Polygon, Ellipse, Rectangle), to what brushes fill inside
//   Polygon, Ellipse and Rectangle, and to SetPixel. FillRect and FrameRect
//   ignore it: they are PatBlt with PATCOPY underneath.
// - Not-xor (R2_NOTXORPEN) makes each pixel ~(src ^ dst) on the 24 RGB bits,
//   so drawing the same thing twice restores every pixel: this is how the drag
//   loop's feedback is drawn and removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/geometry.h"

namespace parlex {

// The values are GDI's R2_* codes.
enum class RasterMode : uint8_t {
  kCopyPen = 13,   // R2_COPYPEN: dst = src
  kNotXorPen = 10  // R2_NOTXORPEN: dst = ~(src ^ dst)
};

// The values are GDI's PS_* codes. Lengths along the line, in pixels, for
// cosmetic pens (the dash pattern starts afresh, "on", at every LineTo and
// at the first point of every Polygon, Ellipse and Rectangle outline, and
// runs on from one segment of an outline to the next):
//   kDash 18 on 6 off; kDot 3 on 3 off; kDashDot 9 on 6 off 3 on 6 off;
//   kDashDotDot 9 on 3 off 3 on 3 off 3 on 3 off.
// The "off" pixels are drawn in the background colour when the background
// mode is opaque and left alone when it is transparent.
enum class PenStyle : uint8_t {
  kSolid = 0,       // PS_SOLID
  kDash = 1,        // PS_DASH
  kDot = 2,         // PS_DOT
  kDashDot = 3,     // PS_DASHDOT
  kDashDotDot = 4,  // PS_DASHDOTDOT
  kNull = 5         // PS_NULL: draws nothing
};

struct Pen {
  PenStyle style = PenStyle::kSolid;
  Color color = 0;

  friend bool operator==(const Pen&, const Pen&) = default;
};

// The pixels of a pattern brush, row by row (CreatePatternBrush of a bitmap of
// width x height pixels, 1 to 8 each).
struct BrushPattern {
  int width = 0;
  int height = 0;
  std::vector<Color> pixels;  // width * height entries, row-major

  Color At(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

enum class BrushStyle : uint8_t { kNull, kSolid, kPattern };

struct Brush {
  BrushStyle style = BrushStyle::kNull;
  Color color = 0;                              // kSolid
  std::shared_ptr<const BrushPattern> pattern;  // kPattern; shared so a GDI canvas can cache by identity

  static Brush Null() { return Brush{}; }
  static Brush Solid(Color c) { return Brush{BrushStyle::kSolid, c, nullptr}; }
  static Brush Pattern(std::shared_ptr<const BrushPattern> p) {
    return Brush{BrushStyle::kPattern, 0, std::move(p)};
  }
};

// The values are GDI's TRANSPARENT and OPAQUE.
enum class BackgroundMode : uint8_t { kTransparent = 1, kOpaque = 2 };

class Canvas {
 public:
  virtual ~Canvas() = default;

  // --- State, as the attributes of a DC. Each answers the previous value.
  virtual RasterMode SetRasterMode(RasterMode mode) = 0;              // SetROP2
  virtual Pen SelectPen(const Pen& pen) = 0;                          // SelectObject(pen)
  virtual Brush SelectBrush(const Brush& brush) = 0;                  // SelectObject(brush)
  virtual BackgroundMode SetBackgroundMode(BackgroundMode mode) = 0;  // SetBkMode
  virtual Color SetBackgroundColor(Color color) = 0;                  // SetBkColor

  // Limits every drawing call to clip (SelectClipRgn of a rectangle region,
  // inverted corners put in order); nullptr removes the limit.
  virtual void SetClipRect(const Rect* clip) = 0;

  // --- Lines.
  // MoveToEx: the new current position; answers the previous one.
  virtual Point MoveTo(Point to) = 0;
  // LineTo: a line from the current position to `to` with the current pen,
  // leaving out the end point, which becomes the current position. The pixels
  // are GDI's Bresenham line: with dx, dy the signed distances, the longer
  // axis steps every pixel; the error starts at 2*|minor| - |major|, and the
  // minor coordinate steps when error + bias > 0 (then error += 2*|minor| -
  // 2*|major|, else error += 2*|minor|). bias is 1 in these octants and 0 in
  // the others: (dy > 0, dx <= 0, -dx <= dy), (dy <= 0, dx < 0) and
  // (dy <= 0, dx >= 0, dx > -dy); so a line drawn backwards covers the same
  // pixels as forwards. (0,0)->(5,5) draws (0,0) (1,1) (2,2) (3,3) (4,4);
  // (0,0)->(4,2) draws (0,0) (1,0) (2,1) (3,1).
  virtual void LineTo(Point to) = 0;

  // --- Filled areas.
  // FillRect: PatBlt(PATCOPY) of the rectangle with the brush, raster mode
  // ignored. An inverted side covers [right + 1, left + 1) (likewise
  // vertically), as PatBlt does with a negative width.
  virtual void FillRect(const Rect& rect, const Brush& brush) = 0;
  // FrameRect: a 1-pixel frame just inside the rectangle with the brush (its
  // four sides as PatBlt(PATCOPY)); nothing when right <= left or bottom <= top.
  virtual void FrameRect(const Rect& rect, const Brush& brush) = 0;
  // SetPixel: one pixel in colour, combined through the raster mode.
  virtual void SetPixel(Point p, Color color) = 0;

  // --- Shapes, with the current pen (outline) and brush (inside), under the
  // raster mode. All three leave out the right column and bottom row of
  // their bounding rectangle; corners are put in order first.
  // Polygon (count >= 2): the inside is the scan conversion of the closed
  // polygon with the alternate (even-odd) rule as GDI's polygon regions do it:
  // an edge covers the rows from its upper end to one above its lower end,
  // stepping its x with integer error terms; on each row the pixels from one
  // crossing (included) to the next (excluded) are filled, pair by pair.
  // Then the closed outline as LineTo segments from point to point and back
  // to the first, the dash running on from segment to segment.
  virtual void Polygon(const Point* points, size_t count) = 0;
  // Ellipse: for a bounding rectangle of width w and height h (after ordering)
  // nothing when w or h is 0, Rectangle when w <= 2 or h <= 2; else the
  // inside is filled row by row and the outline traced as GDI's midpoint
  // ellipse of the first quadrant mirrored into the other three.
  virtual void Ellipse(const Rect& bounds) = 0;
  // Rectangle: the outline through (right-1, top), (left, top), (left,
  // bottom-1), (right-1, bottom-1) and back; the inside
  // [left+1, right-1) x [top+1, bottom-1) with the brush; with the null pen
  // the inside is [left, right-1) x [top, bottom-1). Nothing when the width
  // or height is 0.
  virtual void Rectangle(const Rect& bounds) = 0;
};

// Saves and restores one DC attribute around a scope, as the tracker's own
// drawing code restores what it selected.
class ScopedPen {
 public:
  ScopedPen(Canvas& canvas, const Pen& pen) : canvas_(canvas), previous_(canvas.SelectPen(pen)) {}
  ~ScopedPen() { canvas_.SelectPen(previous_); }
  ScopedPen(const ScopedPen&) = delete;
  ScopedPen& operator=(const ScopedPen&) = delete;

 private:
  Canvas& canvas_;
  Pen previous_;
};

}  // namespace parlex
