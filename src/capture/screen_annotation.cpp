// CScreenDlg's annotation tools: the shape drags (arrow, ellipse, rectangle,
// pen, mosaic) with their drawing, and the text editor with its growth and
// commit. All of them stay inside the selection: drag points are held one
// pixel inside it and drawing is clipped to its interior. Every commit is
// recorded in the history, so it can be undone.
#include "capture/screen_dlg.h"

#include <algorithm>
#include <cmath>

namespace parlex {
namespace {

constexpr Color kInk = Rgb(255, 0, 0);
constexpr Color kEditorBackground = Rgb(255, 255, 255);
// Repaint margin around a shape's bounds: covers the arrowhead beyond the
// drag's rectangle.
constexpr int32_t kShapeMargin = 10;
// Repaint margin around a committed editor.
constexpr int32_t kEditorMargin = 5;

// The arrow's arithmetic is defined on 32-bit floats. Storing through a
// volatile rounds an intermediate to 32 bits also where the compiler would
// keep it wider (the x87 registers of the 32-bit Windows build), so both
// builds put the head on the same pixels.
inline float F32(float v) {
  volatile float stored = v;
  return stored;
}

}  // namespace

void DrawMosaic(Canvas& dc, const PixelBuffer& pixels, const Rect& area, const Rect& clip) {
  const Rect drawn = Intersection(Intersection(area, clip), Rect{0, 0, pixels.Width(), pixels.Height()});
  if (IsRectEmpty(drawn)) return;
  // Blocks laid from the area's top-left; only those that reach `drawn`.
  const int32_t firstX = area.left + (drawn.left - area.left) / kMosaicBlock * kMosaicBlock;
  const int32_t firstY = area.top + (drawn.top - area.top) / kMosaicBlock * kMosaicBlock;
  for (int32_t by = firstY; by < drawn.bottom; by += kMosaicBlock) {
    for (int32_t bx = firstX; bx < drawn.right; bx += kMosaicBlock) {
      const Rect block = Intersection(Rect{bx, by, bx + kMosaicBlock, by + kMosaicBlock},
                                      Rect{0, 0, pixels.Width(), pixels.Height()});
      uint32_t r = 0, g = 0, b = 0;
      for (int32_t y = block.top; y < block.bottom; ++y) {
        const uint32_t* row = pixels.Data() + static_cast<size_t>(y) * pixels.Width();
        for (int32_t x = block.left; x < block.right; ++x) {
          r += (row[x] >> 16) & 0xFF;
          g += (row[x] >> 8) & 0xFF;
          b += row[x] & 0xFF;
        }
      }
      const uint32_t n = static_cast<uint32_t>((block.right - block.left) * (block.bottom - block.top));
      const Color average = Rgb(static_cast<uint8_t>((r + n / 2) / n), static_cast<uint8_t>((g + n / 2) / n),
                                static_cast<uint8_t>((b + n / 2) / n));
      dc.FillRect(Intersection(block, drawn), Brush::Solid(average));
    }
  }
}

void CScreenDlg::DrawArrow(Canvas& dc, Point tip, const ArrowHead& head) {
  const Point from = dc.MoveTo(Point{0, 0});
  const float vx = F32(static_cast<float>(tip.x - from.x));
  const float vy = F32(static_cast<float>(tip.y - from.y));
  const float nx = -vy;
  const float ny = vx;
  float len = F32(std::sqrt(F32(F32(vx * vx) + F32(vy * vy))));
  // Short lines get the head of a 5-pixel line, so it shrinks with them.
  if (len < 5.0f) len = 5.0f;
  const float width = static_cast<float>(head.width);
  // tan in double rounded once: the same 32-bit value on every C library.
  const float tanAngle = static_cast<float>(std::tan(static_cast<double>(head.angle)));
  const float th = F32(width / F32(2.0f * len));
  const float ta = F32(width / F32(F32(2.0f * F32(tanAngle * 0.5f)) * len));
  const Point base{static_cast<int32_t>(F32(static_cast<float>(tip.x) - F32(ta * vx))),
                   static_cast<int32_t>(F32(static_cast<float>(tip.y) - F32(ta * vy)))};
  const float bx = static_cast<float>(base.x);
  const float by = static_cast<float>(base.y);
  const Point triangle[3] = {
      tip,
      Point{static_cast<int32_t>(F32(bx + F32(th * nx))), static_cast<int32_t>(F32(by + F32(th * ny)))},
      Point{static_cast<int32_t>(F32(bx - F32(th * nx))), static_cast<int32_t>(F32(by - F32(th * ny)))},
  };
  dc.MoveTo(from);
  dc.Polygon(triangle, 3);
  dc.LineTo(base);
}

void CScreenDlg::DrawShape(Canvas& dc) {
  const Pen oldPen = dc.SelectPen(Pen{PenStyle::kSolid, kInk});
  const Brush oldBrush = dc.SelectBrush(Brush::Null());
  const Rect& s = m_rcSelection;
  Rect clip{s.left + 1, s.top + 1, s.right - 1, s.bottom - 1};
  // A selection of one or two pixels has no interior: nothing may be drawn
  // (a clip with crossed edges would be put in order over the border).
  const bool noInterior = IsRectEmpty(clip);
  if (noInterior) clip = Rect{s.left, s.top, s.left, s.top};
  dc.SetClipRect(&clip);
  if (!noInterior) {
    switch (ToolInForce()) {
      case CaptureTool::kArrow: {
        dc.SelectBrush(Brush::Solid(kInk));
        dc.MoveTo(m_ptStart);
        const Point tip{std::min(m_ptEnd.x, s.right - 1), std::min(m_ptEnd.y, s.bottom - 1)};
        DrawArrow(dc, tip, ArrowHead{});
        break;
      }
      case CaptureTool::kEllipse:
        dc.Ellipse(DragBounds());
        break;
      case CaptureTool::kRectangle:
        dc.Rectangle(DragBounds());
        break;
      case CaptureTool::kPen:
        if (!m_penPoints.empty()) {
          dc.MoveTo(m_penPoints.front());
          for (size_t i = 1; i < m_penPoints.size(); ++i) dc.LineTo(m_penPoints[i]);
          // A line leaves out its end point; the pen's stroke ends on it.
          dc.SetPixel(m_penPoints.back(), kInk);
        }
        break;
      case CaptureTool::kMosaic:
        // Averages of the snapshot as it is: the screen shows what the
        // commit will write.
        DrawMosaic(dc, m_snapshot, DragBounds(), clip);
        break;
      case CaptureTool::kText:
      case CaptureTool::kNone:
        break;
    }
  }
  dc.SelectPen(oldPen);
  dc.SelectBrush(oldBrush);
}

void CScreenDlg::ShapeMove(Point p) {
  m_bAnnotated = true;
  const Rect& s = m_rcSelection;
  const Rect clip = Inflated(s, -1, -1);
  const bool pen = ToolInForce() == CaptureTool::kPen;
  // The pen repaints only its new segment: the line drawn so far is on the
  // screen already.
  auto area = [&] {
    const Point a = m_penPoints.back();
    const Rect grown = pen ? Inflated(Rect{std::min(a.x, m_ptEnd.x), std::min(a.y, m_ptEnd.y),
                                           std::max(a.x, m_ptEnd.x) + 1, std::max(a.y, m_ptEnd.y) + 1},
                                      1, 1)
                           : Inflated(DragBounds(), kShapeMargin, kShapeMargin);
    return IsRectEmpty(clip) ? grown : Intersection(grown, clip);
  };
  const Rect before = area();
  if (!IsRectEmpty(before) && !pen) m_view->InvalidateRect(before);
  if (p.x <= s.left) p.x = s.left + 1;
  if (p.x >= s.right) p.x = s.right - 1;
  if (p.y <= s.top) p.y = s.top + 1;
  if (p.y >= s.bottom) p.y = s.bottom - 1;
  m_ptEnd = p;
  const Rect after = area();
  if (pen && m_penPoints.back() != p) m_penPoints.push_back(p);
  if (!IsRectEmpty(after)) m_view->InvalidateRect(after);
}

Rect CScreenDlg::ShapeArea() const {
  Rect bounds = DragBounds();
  for (const Point& p : m_penPoints)
    bounds = Rect{std::min(bounds.left, p.x), std::min(bounds.top, p.y), std::max(bounds.right, p.x),
                  std::max(bounds.bottom, p.y)};
  return Intersection(Inflated(bounds, kShapeMargin, kShapeMargin), m_rcSelection);
}

void CScreenDlg::ShapeRelease() {
  m_bDrawing = false;
  EndDrag();
  // The shape becomes part of the snapshot; the screen already shows it.
  const Rect area = ShapeArea();
  m_history.Begin(m_snapshot, area);
  PixelCanvas canvas(m_snapshot, 0xFF);
  DrawShape(canvas);
  m_history.Commit(m_snapshot);
  UpdateUndoButton();
  m_penPoints.clear();
  RefreshDimmed(area);
}

void CScreenDlg::TextPress(Point p) {
  if (m_bTextOpen) {
    // A second click closes the editor: it loses the focus to the window,
    // and the platform's focus notification commits it (CommitText).
    m_bTextOpen = false;
    m_view->UncheckButton(kBtnText);
    m_view->FocusWindow();
    return;
  }
  if (!m_view->CreateEditor(p)) return;
  m_bTextOpen = true;
  const EditorMetrics tm = m_view->EditorTextMetrics();
  int32_t w = 2 * tm.averageCharWidth;
  if (p.x + w > m_rcSelection.right) w = m_rcSelection.right - p.x;
  const int32_t h = tm.height + tm.externalLeading;
  m_view->MoveEditor(Rect{p.x, p.y, p.x + w, p.y + h});
  m_view->FocusEditor();
}

void CScreenDlg::GrowTextEditor() {
  if (!m_view || !m_view->HasEditor()) return;
  const Rect old = m_view->EditorRect();
  std::u16string text = m_view->EditorText(kEditorTextUnits);
  if (text.size() > kEditorTextUnits) text.resize(kEditorTextUnits);
  const EditorMetrics tm = m_view->EditorTextMetrics();
  Rect r = old;
  const int32_t spare = 2 * tm.averageCharWidth;
  // Each line as typed (carriage returns stay in it); the editor wraps
  // longer ones itself once it has reached the selection's edge.
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    if (end > start) {
      const int32_t e = m_view->EditorTextWidth(std::u16string_view(text).substr(start, end - start));
      if (r.right < r.left + e + spare) r.right = r.left + e + spare;
    }
    start = end + 1;
  }
  if (r.right < old.right) r.right = old.right;
  const int32_t lines = m_view->EditorLineCount();
  r.bottom = r.top + lines * (tm.height + tm.externalLeading);
  if (r.right > m_rcSelection.right - 1) r.right = m_rcSelection.right - 1;
  if (r.bottom < old.bottom) r.bottom = old.bottom;
  if (r.bottom > m_rcSelection.bottom - 1) r.bottom = m_rcSelection.bottom - 1;
  m_view->MoveEditor(r);
}

void CScreenDlg::CommitText() {
  if (!m_view || !m_view->HasEditor()) return;
  const Rect r = m_view->EditorRect();
  if (!m_view->EditorText(1).empty()) {
    m_bAnnotated = true;
    const int32_t w = r.right - r.left;
    const int32_t h = r.bottom - r.top;
    PixelBuffer pixels(std::max(w, 0), std::max(h, 0), kEditorBackground);
    if (w > 0 && h > 0 && m_view->RenderEditor(&pixels)) {
      // White is the editor's background: it lets the snapshot through.
      const Rect target = Intersection(
          Rect{r.left, r.top, r.left + std::min(w, pixels.Width()), r.top + std::min(h, pixels.Height())},
          Rect{0, 0, m_cxScreen, m_cyScreen});
      m_history.Begin(m_snapshot, target);
      for (int32_t y = target.top; y < target.bottom; ++y)
        for (int32_t x = target.left; x < target.right; ++x) {
          const Color c = pixels.At(x - r.left, y - r.top);
          if (c != kEditorBackground) m_snapshot.Set(x, y, 0xFF000000u | c);
        }
      m_history.Commit(m_snapshot);
      UpdateUndoButton();
      RefreshDimmed(target);
    }
  }
  m_view->DestroyEditor();
  m_view->InvalidateRect(Inflated(r, kEditorMargin, kEditorMargin));
  m_view->UpdateNow();
}

}  // namespace parlex
