// CAxTracker::CLineColl: the guide lines that go with a tracked rectangle.
#include "capture/ax_tracker.h"

namespace parlex {

void CAxTracker::CLineColl::AddLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t side) {
  lines.push_back(CLine{x1, y1, x2, y2, side, 0, 0});
}

void CAxTracker::CLineColl::Draw(Canvas& dc) {
  if (!pen) pen = Pen{PenStyle::kDot, kGuideLineColor};
  ScopedPen selected(dc, *pen);
  for (const CLine& line : lines) {
    Point end{line.x2, line.y2};
    // While an extension is in force, the ends on the extended sides move
    // with them and the lines of the other two sides are hidden.
    if (line.dx != 0) {
      if (line.side == CLine::sideTop || line.side == CLine::sideBottom) continue;
      if (line.side == CLine::sideLeft) end.x = line.x2 - line.dx;
      if (line.side == CLine::sideRight) end.x = line.x2 + line.dx;
    }
    if (line.dy != 0) {
      if (line.side == CLine::sideLeft || line.side == CLine::sideRight) continue;
      if (line.side == CLine::sideTop) end.y = line.y2 - line.dy;
      if (line.side == CLine::sideBottom) end.y = line.y2 + line.dy;
    }
    dc.MoveTo(Point{line.x1, line.y1});
    dc.LineTo(end);
  }
}

void CAxTracker::CLineColl::Offset(Canvas& dc, int32_t ax, int32_t ay) {
  Draw(dc);  // not-xor: removes them
  for (CLine& line : lines) {
    line.dx += ax;
    line.dy += ay;
  }
  Draw(dc);
}

void CAxTracker::CLineColl::Clear() {
  pen.reset();
  std::vector<CLine>().swap(lines);
}

}  // namespace parlex
