// A region: a set of pixels kept as a union of rectangles. The tracker hands
// regions to its owner to invalidate; each platform turns one into its own
// (an HRGN through CreateRectRgn/CombineRgn, a QRegion from the rectangles).
#pragma once

#include <cstddef>
#include <vector>

#include "capture/geometry.h"

namespace parlex {

class Region {
 public:
  // The empty region (CreateRectRgn(0, 0, 0, 0)).
  Region() = default;

  // A rectangular region from two corners, read like CreateRectRgn: inverted
  // edges are put in order first, so (10, 0, 4, 5) covers [4, 10) x [0, 5);
  // a rectangle with no width or no height gives the empty region.
  explicit Region(const Rect& corners);

  bool IsEmpty() const { return rects_.empty(); }

  // The smallest rectangle holding every pixel; (0, 0, 0, 0) when empty.
  Rect Bounds() const;

  bool Contains(Point p) const;

  // Pixel count, for tests and sanity checks (64-bit: a whole 4K screen
  // and more fit).
  long long Area() const;

  // CombineRgn with RGN_OR, RGN_DIFF and RGN_AND; this region receives the result.
  Region& Union(const Region& other);
  Region& Subtract(const Region& other);
  Region& Intersect(const Region& other);

  // The rectangles, disjoint and non-empty, in y-x band order: sorted by top,
  // then by left; every rectangle of one band has the same top and bottom, and
  // two vertically adjacent bands never cover the same columns (they are
  // merged). This is the canonical form, so equal pixel sets compare equal.
  const std::vector<Rect>& Rects() const { return rects_; }

  friend bool operator==(const Region&, const Region&) = default;

 private:
  enum class Op { kUnion, kSubtract, kIntersect };
  void Combine(const Region& other, Op op);

  std::vector<Rect> rects_;
};

}  // namespace parlex
