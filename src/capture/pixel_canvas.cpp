#include "capture/pixel_canvas.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace parlex {

namespace {
#ifdef __linux__
constexpr size_t kHugePage = size_t{2} << 20;
#endif
}  // namespace

void* AllocatePixels(size_t bytes) {
#ifdef __linux__
  if (bytes >= kHugePage) {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    if (void* block = std::aligned_alloc(kHugePage, rounded)) {
      madvise(block, rounded, MADV_HUGEPAGE);  // a hint: refused, the pages are small
      return block;
    }
    throw std::bad_alloc();
  }
#endif
  return ::operator new(bytes);
}

void FreePixels(void* block, size_t bytes) noexcept {
#ifdef __linux__
  if (bytes >= kHugePage) {
    std::free(block);
    return;
  }
#else
  (void)bytes;
#endif
  ::operator delete(block);
}

namespace {

constexpr uint32_t kRgbMask = 0xFFFFFFu;

struct DashPattern {
  int count;
  int runs[6];
};

// Runs of cosmetic pens, "on" first, in pixels along the line.
const DashPattern* PatternOf(PenStyle style) {
  static const DashPattern kDash{2, {18, 6}};
  static const DashPattern kDot{2, {3, 3}};
  static const DashPattern kDashDot{4, {9, 6, 3, 6}};
  static const DashPattern kDashDotDot{6, {9, 3, 3, 3, 3, 3}};
  switch (style) {
    case PenStyle::kDash:
      return &kDash;
    case PenStyle::kDot:
      return &kDot;
    case PenStyle::kDashDot:
      return &kDashDot;
    case PenStyle::kDashDotDot:
      return &kDashDotDot;
    default:
      return nullptr;
  }
}

int PositiveMod(int v, int m) {
  int r = v % m;
  return r < 0 ? r + m : r;
}

Rect Intersect(const Rect& a, const Rect& b) {
  return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

// Bounds of a PatBlt at (x, y) with a signed width and height: a negative
// extent covers the pixels up to and including the start.
Rect PatBltBounds(const Rect& r) {
  Rect b = r;
  if (b.left > b.right) {
    b.left = r.right + 1;
    b.right = r.left + 1;
  }
  if (b.top > b.bottom) {
    b.top = r.bottom + 1;
    b.bottom = r.top + 1;
  }
  return b;
}

}  // namespace

PixelCanvas::PixelCanvas(uint32_t* pixels, int width, int height, int stride, uint8_t topByte)
    : pixels_(pixels),
      width_(width),
      height_(height),
      stride_(stride),
      top_(static_cast<uint32_t>(topByte) << 24) {
  SetClipRect(nullptr);
}

PixelCanvas::PixelCanvas(PixelBuffer& buffer, uint8_t topByte)
    : PixelCanvas(buffer.Data(), buffer.Width(), buffer.Height(), buffer.Width(), topByte) {}

Color PixelCanvas::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<size_t>(y) * stride_ + x] & kRgbMask;
}

RasterMode PixelCanvas::SetRasterMode(RasterMode mode) { return std::exchange(mode_, mode); }

Pen PixelCanvas::SelectPen(const Pen& pen) {
  Pen previous = pen_;
  pen_ = pen;
  ResetDash();
  return previous;
}

Brush PixelCanvas::SelectBrush(const Brush& brush) { return std::exchange(brush_, brush); }

BackgroundMode PixelCanvas::SetBackgroundMode(BackgroundMode mode) { return std::exchange(bkMode_, mode); }

Color PixelCanvas::SetBackgroundColor(Color color) { return std::exchange(bkColor_, color & kRgbMask); }

void PixelCanvas::SetClipRect(const Rect* clip) {
  hasClip_ = clip != nullptr;
  if (hasClip_) clip_ = Ordered(*clip);
  visible_ = Rect{0, 0, width_, height_};
  if (hasClip_) visible_ = Intersect(visible_, clip_);
}

Point PixelCanvas::MoveTo(Point to) { return std::exchange(position_, to); }

void PixelCanvas::LineTo(Point to) {
  ResetDash();
  PenSegment(position_, to);
  position_ = to;
}

void PixelCanvas::Plot(int x, int y, Color color, RasterMode mode) {
  if (x < visible_.left || x >= visible_.right || y < visible_.top || y >= visible_.bottom) return;
  uint32_t& px = pixels_[static_cast<size_t>(y) * stride_ + x];
  if (mode == RasterMode::kNotXorPen)
    px ^= ~color & kRgbMask;  // ~(src ^ dst) on the RGB bits, top byte kept
  else
    px = (color & kRgbMask) | top_;
}

void PixelCanvas::ResetDash() {
  dash_.index = 0;
  const DashPattern* pattern = PatternOf(pen_.style);
  dash_.leftInRun = pattern ? pattern->runs[0] : 0;
}

void PixelCanvas::PenPixel(int x, int y) {
  if (pen_.style == PenStyle::kNull) return;
  const DashPattern* pattern = PatternOf(pen_.style);
  if (!pattern) {
    Plot(x, y, pen_.color, mode_);
    return;
  }
  if (dash_.index % 2 == 0)
    Plot(x, y, pen_.color, mode_);
  else if (bkMode_ == BackgroundMode::kOpaque)
    Plot(x, y, bkColor_, mode_);
  if (--dash_.leftInRun == 0) {
    dash_.index = (dash_.index + 1) % pattern->count;
    dash_.leftInRun = pattern->runs[dash_.index];
  }
}

void PixelCanvas::PenSegment(Point from, Point to) {
  if (pen_.style == PenStyle::kNull) return;
  const int dx = to.x - from.x;
  const int dy = to.y - from.y;
  const int adx = std::abs(dx);
  const int ady = std::abs(dy);
  // GDI's octant bias: lines drawn in the opposite direction hit the same pixels.
  int bias;
  if (dy > 0)
    bias = (dx <= 0 && -dx <= dy) ? 1 : 0;
  else if (dx < 0)
    bias = 1;
  else
    bias = dx > -dy ? 1 : 0;
  const int xInc = dx > 0 ? 1 : -1;
  const int yInc = dy > 0 ? 1 : -1;
  int x = from.x;
  int y = from.y;
  if (adx > ady) {
    int err = 2 * ady - adx;
    for (int n = adx; n > 0; --n) {
      PenPixel(x, y);
      if (err + bias > 0) {
        y += yInc;
        err += 2 * ady - 2 * adx;
      } else {
        err += 2 * ady;
      }
      x += xInc;
    }
  } else {
    int err = 2 * adx - ady;
    for (int n = ady; n > 0; --n) {
      PenPixel(x, y);
      if (err + bias > 0) {
        x += xInc;
        err += 2 * adx - 2 * ady;
      } else {
        err += 2 * adx;
      }
      y += yInc;
    }
  }
}

void PixelCanvas::PenOutline(const Point* points, size_t count) {
  ResetDash();
  if (count < 2) return;
  for (size_t i = 0; i + 1 < count; ++i) PenSegment(points[i], points[i + 1]);
  PenSegment(points[count - 1], points[0]);
}

void PixelCanvas::BrushSpan(int y, int x0, int x1, const Brush& brush, RasterMode mode) {
  if (brush.style == BrushStyle::kNull) return;
  if (y < visible_.top || y >= visible_.bottom) return;
  x0 = std::max(x0, visible_.left);
  x1 = std::min(x1, visible_.right);
  if (x0 >= x1) return;
  uint32_t* row = pixels_ + static_cast<size_t>(y) * stride_;
  if (brush.style == BrushStyle::kSolid) {
    if (mode == RasterMode::kCopyPen) {
      std::fill(row + x0, row + x1, (brush.color & kRgbMask) | top_);
    } else {
      const uint32_t flip = ~brush.color & kRgbMask;
      for (int x = x0; x < x1; ++x) row[x] ^= flip;
    }
    return;
  }
  const BrushPattern* pattern = brush.pattern.get();
  if (!pattern || pattern->width <= 0 || pattern->height <= 0) return;
  const int py = PositiveMod(y, pattern->height);
  int px = PositiveMod(x0, pattern->width);
  for (int x = x0; x < x1; ++x) {
    const Color c = pattern->At(px, py);
    if (mode == RasterMode::kCopyPen)
      row[x] = (c & kRgbMask) | top_;
    else
      row[x] ^= ~c & kRgbMask;
    if (++px == pattern->width) px = 0;
  }
}

void PixelCanvas::BrushRect(const Rect& r, const Brush& brush, RasterMode mode) {
  if (brush.style == BrushStyle::kNull) return;
  const int top = std::max(r.top, visible_.top);
  const int bottom = std::min(r.bottom, visible_.bottom);
  for (int y = top; y < bottom; ++y) BrushSpan(y, r.left, r.right, brush, mode);
}

void PixelCanvas::FillRect(const Rect& rect, const Brush& brush) {
  BrushRect(PatBltBounds(rect), brush, RasterMode::kCopyPen);
}

void PixelCanvas::FrameRect(const Rect& r, const Brush& brush) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  BrushRect(Rect{r.left, r.top, r.left + 1, r.bottom}, brush, RasterMode::kCopyPen);
  BrushRect(Rect{r.right - 1, r.top, r.right, r.bottom}, brush, RasterMode::kCopyPen);
  BrushRect(Rect{r.left, r.top, r.right, r.top + 1}, brush, RasterMode::kCopyPen);
  BrushRect(Rect{r.left, r.bottom - 1, r.right, r.bottom}, brush, RasterMode::kCopyPen);
}

void PixelCanvas::SetPixel(Point p, Color color) { Plot(p.x, p.y, color, mode_); }

void PixelCanvas::Polygon(const Point* points, size_t count) {
  if (count < 2) return;
  if (brush_.style != BrushStyle::kNull) {
    // Scan conversion with integer edge stepping: an edge from its upper end
    // (x1, y1) to its lower end covers rows y1 to y2 - 1; horizontal edges
    // add nothing; each row fills between pairs of crossings, left inclusive.
    struct Edge {
      int x, yTop, yBottom;
      int d, m, m1, incr1, incr2;
    };
    std::vector<Edge> edges;
    int yMin = points[0].y;
    int yMax = points[0].y;
    for (size_t i = 0; i < count; ++i) {
      const Point& prev = points[(i + count - 1) % count];
      const Point& cur = points[i];
      yMin = std::min(yMin, cur.y);
      yMax = std::max(yMax, cur.y);
      if (prev.y == cur.y) continue;
      const Point& top = prev.y < cur.y ? prev : cur;
      const Point& bottom = prev.y < cur.y ? cur : prev;
      Edge e{};
      const int dy = bottom.y - top.y;
      const int dx = bottom.x - top.x;
      e.x = top.x;
      e.yTop = top.y;
      e.yBottom = bottom.y;
      e.m = dx / dy;
      if (dx < 0) {
        e.m1 = e.m - 1;
        e.incr1 = -2 * dx + 2 * dy * e.m1;
        e.incr2 = -2 * dx + 2 * dy * e.m;
        e.d = 2 * e.m * dy - 2 * dx - 2 * dy;
      } else {
        e.m1 = e.m + 1;
        e.incr1 = 2 * dx - 2 * dy * e.m1;
        e.incr2 = 2 * dx - 2 * dy * e.m;
        e.d = -2 * e.m * dy + 2 * dx;
      }
      edges.push_back(e);
    }
    std::vector<int> xs;
    for (int y = yMin; y < yMax; ++y) {
      xs.clear();
      for (Edge& e : edges) {
        if (y < e.yTop || y >= e.yBottom) continue;
        xs.push_back(e.x);
        // Step the edge to the next row.
        if (e.m1 > 0) {
          if (e.d > 0) {
            e.x += e.m1;
            e.d += e.incr1;
          } else {
            e.x += e.m;
            e.d += e.incr2;
          }
        } else {
          if (e.d >= 0) {
            e.x += e.m1;
            e.d += e.incr1;
          } else {
            e.x += e.m;
            e.d += e.incr2;
          }
        }
      }
      std::sort(xs.begin(), xs.end());
      for (size_t k = 0; k + 1 < xs.size(); k += 2) BrushSpan(y, xs[k], xs[k + 1], brush_, mode_);
    }
  }
  PenOutline(points, count);
}

void PixelCanvas::Rectangle(const Rect& bounds) {
  const Rect r = Ordered(bounds);
  if (r.left == r.right || r.top == r.bottom) return;
  const int right = r.right - 1;
  const int bottom = r.bottom - 1;
  const Point outline[4] = {{right, r.top}, {r.left, r.top}, {r.left, bottom}, {right, bottom}};
  PenOutline(outline, 4);
  // Without an outline GDI fills where the outline would have been on the
  // left and top as well: the rectangle one pixel smaller each way.
  const int inset = pen_.style == PenStyle::kNull ? 0 : 1;
  BrushRect(Rect{r.left + inset, r.top + inset, right, bottom}, brush_, mode_);
}

void PixelCanvas::Ellipse(const Rect& bounds) {
  const Rect r = Ordered(bounds);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (w == 0 || h == 0) return;
  if (w <= 2 || h <= 2) {
    Rectangle(bounds);
    return;
  }
  const long long a = w - 1;
  const long long b = h - 1;

  if (brush_.style != BrushStyle::kNull) {
    // The inside: for each row, the span between the ellipse's edges there,
    // traced with the same midpoint stepping as the outline.
    std::vector<std::pair<int, int>> rows(static_cast<size_t>(h), {0, 0});
    const long long asq = 8 * a * a;
    const long long bsq = 8 * b * b;
    long long dx = 4 * b * b * (1 - a);
    long long dy = 4 * a * a * (1 + (b % 2));
    long long err = dx + dy + a * a * (b % 2);
    int x = 0;
    int y = h / 2;
    rows[static_cast<size_t>(y)] = {r.left, r.right};
    while (x <= w / 2) {
      const long long e2 = 2 * err;
      if (e2 >= dx) {
        ++x;
        dx += bsq;
        err += dx;
      }
      if (e2 <= dy) {
        ++y;
        dy += asq;
        err += dy;
        if (y < h) rows[static_cast<size_t>(y)] = {r.left + x, r.right - x};
      }
    }
    for (int i = 0; i < h / 2; ++i) rows[static_cast<size_t>(i)] = rows[static_cast<size_t>(b - i)];
    for (int i = 0; i < h; ++i)
      BrushSpan(r.top + i, rows[static_cast<size_t>(i)].first, rows[static_cast<size_t>(i)].second, brush_,
                mode_);
  }

  // The outline: the first quadrant (from the right end of the middle row
  // up to the top), mirrored left-right, then top-bottom.
  std::vector<Point> q;
  {
    const long long asq = 8 * a * a;
    const long long bsq = 8 * b * b;
    long long dx = 4 * b * b * (1 - a);
    long long dy = 4 * a * a * (1 + (b % 2));
    long long err = dx + dy + a * a * (b % 2);
    int px = static_cast<int>(a);
    int py = h / 2;
    while (px >= w / 2) {
      const long long e2 = 2 * err;
      q.push_back(Point{px, py});
      if (e2 >= dx) {
        --px;
        dx += bsq;
        err += dx;
      }
      if (e2 <= dy) {
        ++py;
        dy += asq;
        err += dy;
      }
    }
  }
  std::vector<Point> pts;
  for (const Point& p : q) pts.push_back(Point{r.left + p.x, r.top + h - 1 - p.y});
  {
    const size_t count = pts.size();
    size_t end = 2 * count - 1;
    if (w % 2) --end;  // the middle column is not doubled
    pts.resize(end + 1);
    for (size_t i = 0; i < count; ++i) {
      const Point p = pts[i];
      pts[end - i] = Point{r.left + r.right - 1 - p.x, p.y};
    }
  }
  {
    const size_t count = pts.size();
    size_t end = 2 * count - 1;
    if (h % 2) --end;  // the middle row is not doubled
    pts.resize(end + 1);
    for (size_t i = 0; i < count; ++i) {
      const Point p = pts[i];
      pts[end - i] = Point{p.x, r.top + r.bottom - 1 - p.y};
    }
  }
  PenOutline(pts.data(), pts.size());
}

}  // namespace parlex
