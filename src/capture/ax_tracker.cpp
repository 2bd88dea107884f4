#include "capture/ax_tracker.h"

#include <utility>

#include "capture/track_loop.h"

namespace parlex {

CAxTracker::CAxTracker(IAxTrackerEvents* owner_, uint8_t handleSize_, uint16_t feedbackDelay_,
                       uint32_t keyExtendX_, uint32_t keyExtendY_, uint32_t keyShrink_)
    : owner(owner_),
      handleSize(handleSize_),
      keyExtendX(keyExtendX_),
      keyExtendY(keyExtendY_),
      keyShrink(keyShrink_),
      feedbackDelay(feedbackDelay_) {}

IAxTrackerEvents* CAxTracker::SetEvents(IAxTrackerEvents* events) { return std::exchange(owner, events); }

std::shared_ptr<const BrushPattern> CAxTracker::MakeHatchPattern(const SystemColors& c) {
  auto pattern = std::make_shared<BrushPattern>();
  pattern->width = 4;
  pattern->height = 4;
  pattern->pixels.assign(16, c.window);
  // One-pixel diagonals rising to the right, four pixels apart.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      if ((x + y) % 4 == 1) pattern->pixels[static_cast<size_t>(y * 4 + x)] = c.activeCaption;
  return pattern;
}

void CAxTracker::Draw(Canvas& dc) {
  // 1. The rectangle to paint around.
  if (owner) {
    Rect r = rect;
    owner->GetRect(&r);
    rect = r;
  } else if (drawn_ && rect == drawnOuter_) {
    // Nobody changed rect since the last paint: paint the same selection
    // again rather than the grown rectangle that paint left behind.
    rect = drawnBase_;
  }
  const Rect base = rect;

  // 2. Centre, fixed for the rest of the call.
  const int32_t h = handleSize;
  const int32_t h2 = h / 2;
  const int32_t cx = (rect.left + rect.right) / 2;
  const int32_t cy = (rect.top + rect.bottom) / 2;

  // 3. Band brush.
  const bool hatched = (style & tsHatchedBorder) != 0;
  const bool solid = (style & tsSolidBorder) != 0;
  Brush band;
  if (hatched)
    band = Brush::Pattern(MakeHatchPattern(colors));
  else if (solid)
    band = Brush::Solid(colors.window);

  // 4. The band: eight strips, leaving the corners and the middle of each
  // side to the handles.
  if (hatched || solid) {
    const int32_t w = hatched ? h - 1 : h;
    const Rect& r = rect;
    const Rect strips[8] = {
        {r.left, r.top - w, cx - h2, r.top},       {cx + h2, r.top - w, r.right, r.top},
        {r.left - w, r.top, r.left, cy - h2},      {r.left - w, cy + h2, r.left, r.bottom},
        {r.left, r.bottom, cx - h2, r.bottom + w}, {cx + h2, r.bottom, r.right, r.bottom + w},
        {r.right, r.top, r.right + w, cy - h2},    {r.right, cy + h2, r.right + w, r.bottom},
    };
    for (const Rect& s : strips) dc.FillRect(s, band);
  }

  // 5. Frame brush.
  const Brush frame = Brush::Solid(colors.activeCaption);

  // 6. The outer line that closes the hatched band.
  if (hatched) {
    dc.FrameRect(Inflated(rect, h, h), frame);
    band = Brush::Solid(colors.window);
  }

  // 7. Dots outside the solid band.
  if (solid) {
    const Color c = colors.activeCaption;
    const Rect r = rect;
    for (int32_t x = r.left; x < r.right; x += 4) {
      for (int32_t i = 2; i < h; i += 2) {
        const int32_t px = (i % 4 != 0) ? x + 1 : x + 3;
        dc.SetPixel(Point{px, r.top - i}, c);
        dc.SetPixel(Point{px, r.bottom + i}, c);
      }
    }
    for (int32_t y = r.top; y < r.bottom; y += 8) {
      for (int32_t i = 2; i < h; ++i) {
        const int32_t py = (i % 2 != 0) ? y : y + 4;
        dc.SetPixel(Point{r.left - i, py}, c);
        dc.SetPixel(Point{r.right + i - 1, py}, c);
      }
    }
  }

  // 8. The line frame along the rectangle.
  if (style & tsLineFrame) {
    ScopedPen pen(dc, Pen{PenStyle::kSolid, colors.activeCaption});
    const Rect r = rect;
    dc.MoveTo(Point{r.left, r.top});
    dc.LineTo(Point{r.right, r.top});
    dc.LineTo(Point{r.right, r.bottom});
    dc.LineTo(Point{r.left, r.bottom});
    dc.LineTo(Point{r.left, r.top});
  }

  // 9. Handles inside or across the edge: work on the inset rectangle.
  if (style & (tsHandlesOnEdge | tsHandlesInside)) {
    const int32_t inset = (style & tsHandlesOnEdge) ? h2 + 1 : h;
    rect = Inflated(rect, -inset, -inset);
    if (rect.left > rect.right) std::swap(rect.left, rect.right);
    if (rect.top > rect.bottom) std::swap(rect.top, rect.bottom);
  }

  // 10. The eight handles.
  {
    const Rect r = rect;
    struct Handle {
      uint16_t bit;
      Rect box;
    };
    const Handle handles[8] = {
        {tsHandleTopLeft, {r.left - h, r.top - h, r.left, r.top}},
        {tsHandleBottomLeft, {r.left - h, r.bottom, r.left, r.bottom + h}},
        {tsHandleBottomRight, {r.right, r.bottom, r.right + h, r.bottom + h}},
        {tsHandleTopRight, {r.right, r.top - h, r.right + h, r.top}},
        {tsHandleLeft, {r.left - h, cy - h2, r.left, cy + h2}},
        {tsHandleBottom, {cx - h2, r.bottom, cx + h2, r.bottom + h}},
        {tsHandleRight, {r.right, cy - h2, r.right + h, cy + h2}},
        {tsHandleTop, {cx - h2, r.top - h, cx + h2, r.top}},
    };
    for (const Handle& handle : handles) {
      if (style & handle.bit) {
        dc.FillRect(handle.box, frame);
      } else {
        dc.FillRect(handle.box, band);  // a null band brush fills nothing
        dc.FrameRect(handle.box, frame);
      }
    }
  }

  // 11. From now on rect is the outer rectangle that holds the handles.
  rect = Inflated(rect, h, h);
  drawnBase_ = base;
  drawnOuter_ = rect;
  drawn_ = true;
}

int32_t CAxTracker::HitTest(Point p) const {
  const Rect& r = rect;
  const int32_t h = handleSize;
  const int32_t h2 = h / 2;
  const int32_t cx = (r.left + r.right) / 2;
  const int32_t cy = (r.top + r.bottom) / 2;
  if (!PtInRect(r, p)) return hitNone;
  if (PtInRect(Rect{r.left + h, r.top + h, r.right - h, r.bottom - h}, p)) return hitInside;
  if (PtInRect(Rect{r.left, r.top, r.left + h, r.top + h}, p)) return hitTopLeft;
  if (PtInRect(Rect{r.left, r.bottom - h, r.left + h, r.bottom}, p)) return hitBottomLeft;
  if (PtInRect(Rect{r.right - h, r.bottom - h, r.right, r.bottom}, p)) return hitBottomRight;
  if (PtInRect(Rect{r.right - h, r.top, r.right, r.top + h}, p)) return hitTopRight;
  if (PtInRect(Rect{r.left, cy - h2, r.left + h, cy + h2}, p)) return hitLeft;
  if (PtInRect(Rect{r.right - h, cy - h2, r.right, cy + h2}, p)) return hitRight;
  if (PtInRect(Rect{cx - h2, r.top, cx + h2, r.top + h}, p)) return hitTop;
  if (PtInRect(Rect{cx - h2, r.bottom - h, cx + h2, r.bottom}, p)) return hitBottom;
  return (style & (tsHatchedBorder | tsSolidBorder)) ? hitBorder : hitNone;
}

int CAxTracker::CursorFromHit(int32_t hit) const {
  switch (hit) {
    case hitInside:
    case hitBorder:
      return (style & tsMovable) ? 4 : -1;
    case hitTop:
      return (style & tsHandleTop) ? 2 : -1;
    case hitBottom:
      return (style & tsHandleBottom) ? 2 : -1;
    case hitLeft:
      return (style & tsHandleLeft) ? 3 : -1;
    case hitRight:
      return (style & tsHandleRight) ? 3 : -1;
    case hitTopLeft:
      return (style & tsHandleTopLeft) ? 0 : -1;
    case hitBottomRight:
      return (style & tsHandleBottomRight) ? 0 : -1;
    case hitTopRight:
      return (style & tsHandleTopRight) ? 1 : -1;
    case hitBottomLeft:
      return (style & tsHandleBottomLeft) ? 1 : -1;
    default:
      return -1;
  }
}

void CAxTracker::SetDragCursor(ITrackerWindow& window, int32_t hit) const {
  if (hit == hitInside || hit == hitBorder) window.SetCursor(kMoveDragCursor);
}

bool CAxTracker::OnSetCursor(ITrackerWindow& window, uint32_t hitTestCode) const {
  if (hitTestCode != 1) return false;  // HTCLIENT only
  const int cursor = CursorFromHit(HitTest(window.CursorPos()));
  if (cursor < 0) return false;
  window.SetCursor(cursor);
  return true;
}

std::optional<Region> CAxTracker::GetRegion(uint32_t parts) const {
  if (IsRectEmpty(rect)) return std::nullopt;
  const Rect& r = rect;
  const int32_t h = handleSize;
  if ((parts & 0x0F) == 0x0F) {
    Region whole(r);
    if (!(parts & rgnInterior))
      whole.Subtract(Region(Rect{r.left + h, r.top + h, r.right - h, r.bottom - h}));
    return whole;
  }
  Region out;
  if (parts & rgnLeft) out.Union(Region(Rect{r.left, r.top, r.left + h, r.bottom}));
  if (parts & rgnBottom) out.Union(Region(Rect{r.left, r.bottom - h, r.right, r.bottom}));
  if (parts & rgnRight) out.Union(Region(Rect{r.right - h, r.top, r.right, r.bottom}));
  if (parts & rgnTop) out.Union(Region(Rect{r.left, r.top, r.right, r.top + h}));
  return out;
}

bool CAxTracker::Track(ITrackHost& host, Point point, bool rubberBand, uint16_t growX, uint16_t growY,
                       uint16_t shrinkX, uint16_t shrinkY, bool feedback) {
  TrackLoop loop(*this, host, TrackArgs{point, rubberBand, growX, growY, shrinkX, shrinkY, feedback});
  if (!loop.Start()) return false;
  while (loop.Feed(host.WaitEvent())) {
  }
  return loop.Result();
}

}  // namespace parlex
