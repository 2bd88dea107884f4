#include "capture/region.h"

#include <algorithm>
#include <utility>

namespace parlex {
namespace {

using Spans = std::vector<std::pair<int32_t, int32_t>>;  // [x0, x1), sorted, disjoint

// The spans of a canonical rectangle list on row y.
Spans SpansAt(const std::vector<Rect>& rects, int32_t y) {
  Spans spans;
  for (const Rect& r : rects) {
    if (r.top > y) break;  // sorted by top
    if (y < r.bottom) spans.emplace_back(r.left, r.right);
  }
  return spans;
}

bool Covered(const Spans& spans, int32_t x) {
  for (const auto& s : spans) {
    if (x < s.first) return false;
    if (x < s.second) return true;
  }
  return false;
}

}  // namespace

Region::Region(const Rect& corners) {
  Rect r = Ordered(corners);
  if (!IsRectEmpty(r)) rects_.push_back(r);
}

Rect Region::Bounds() const {
  if (rects_.empty()) return Rect{};
  Rect b = rects_.front();
  for (const Rect& r : rects_) {
    b.left = std::min(b.left, r.left);
    b.top = std::min(b.top, r.top);
    b.right = std::max(b.right, r.right);
    b.bottom = std::max(b.bottom, r.bottom);
  }
  return b;
}

bool Region::Contains(Point p) const {
  for (const Rect& r : rects_)
    if (PtInRect(r, p)) return true;
  return false;
}

long long Region::Area() const {
  long long area = 0;
  for (const Rect& r : rects_) area += static_cast<long long>(r.right - r.left) * (r.bottom - r.top);
  return area;
}

Region& Region::Union(const Region& other) {
  Combine(other, Op::kUnion);
  return *this;
}

Region& Region::Subtract(const Region& other) {
  Combine(other, Op::kSubtract);
  return *this;
}

Region& Region::Intersect(const Region& other) {
  Combine(other, Op::kIntersect);
  return *this;
}

void Region::Combine(const Region& other, Op op) {
  // Every row between two consecutive band edges of either operand has the
  // same spans; combine those spans band by band and merge equal neighbours.
  std::vector<int32_t> edges;
  for (const Rect& r : rects_) edges.insert(edges.end(), {r.top, r.bottom});
  for (const Rect& r : other.rects_) edges.insert(edges.end(), {r.top, r.bottom});
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

  std::vector<Rect> out;
  Spans previous;
  int32_t previousBottom = 0;
  size_t previousStart = 0;
  for (size_t i = 0; i + 1 < edges.size(); ++i) {
    const int32_t y0 = edges[i];
    const int32_t y1 = edges[i + 1];
    const Spans a = SpansAt(rects_, y0);
    const Spans b = SpansAt(other.rects_, y0);
    std::vector<int32_t> xs;
    for (const auto& s : a) xs.insert(xs.end(), {s.first, s.second});
    for (const auto& s : b) xs.insert(xs.end(), {s.first, s.second});
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    Spans spans;
    for (size_t k = 0; k + 1 < xs.size(); ++k) {
      const bool inA = Covered(a, xs[k]);
      const bool inB = Covered(b, xs[k]);
      bool in = false;
      switch (op) {
        case Op::kUnion:
          in = inA || inB;
          break;
        case Op::kSubtract:
          in = inA && !inB;
          break;
        case Op::kIntersect:
          in = inA && inB;
          break;
      }
      if (!in) continue;
      if (!spans.empty() && spans.back().second == xs[k])
        spans.back().second = xs[k + 1];
      else
        spans.emplace_back(xs[k], xs[k + 1]);
    }
    if (spans.empty()) {
      previous.clear();
      continue;
    }
    if (!previous.empty() && previousBottom == y0 && previous == spans) {
      for (size_t k = previousStart; k < out.size(); ++k) out[k].bottom = y1;
    } else {
      previousStart = out.size();
      for (const auto& s : spans) out.push_back(Rect{s.first, y0, s.second, y1});
      previous = spans;
    }
    previousBottom = y1;
  }
  rects_ = std::move(out);
}

}  // namespace parlex
