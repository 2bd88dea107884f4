// CScreenDlg: initialisation, painting, the selecting and placed phases, the
// tracker callbacks and the toolbar. Annotations are in screen_annotation.cpp,
// save and send in screen_save_send.cpp.
#include "capture/screen_dlg.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace parlex {
namespace {

constexpr uint32_t kAllParts = CAxTracker::rgnLeft | CAxTracker::rgnTop | CAxTracker::rgnRight |
                               CAxTracker::rgnBottom | CAxTracker::rgnInterior;
constexpr uint32_t kOpaque = 0xFF000000u;

// Toolbar: cells of 50 x 30 from left to right in the order of
// kToolbarButtons, 5 pixels off the selection; hidden in the same order when
// a track starts.
constexpr int32_t kCellWidth = 50;
constexpr int32_t kCellHeight = 30;
constexpr int32_t kToolbarWidth = kCellWidth * static_cast<int32_t>(std::size(kToolbarButtons));
constexpr int32_t kToolbarGap = 5;

// The size note: one line of small digits, 7 pixels a character and a margin.
constexpr int32_t kSizeLabelHeight = 18;
constexpr int32_t kSizeLabelCharWidth = 7;
constexpr int32_t kSizeLabelPadding = 8;

// The drag loop's grow and shrink steps for the extension keys.
constexpr uint16_t kGrowStep = 8;
constexpr uint16_t kShrinkStep = 5;

// DimChannel on all three channels at once, without tables so that the
// loop over a whole screen vectorises: red and blue side by side in 16-bit
// lanes, and x / 255 computed as (x + 1 + (x >> 8)) >> 8, exact for every
// x below 65535 (here x <= 127 * 127 + 255 * 128 = 48769).
inline uint32_t DimPixel(uint32_t p) {
  const uint32_t rb = (p & 0x00FF00FFu) * 128 + 0x3F013F01u;  // 127 * 127 = 0x3F01 in each lane
  const uint32_t rbDiv = ((rb + 0x00010001u + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
  const uint32_t g = ((p >> 8) & 0xFFu) * 128 + 0x3F01u;
  const uint32_t gDiv = (g + 1 + (g >> 8)) >> 8;
  return kOpaque | rbDiv | (gDiv << 8);
}

void CopyRow(uint32_t* dst, const uint32_t* src, int32_t count) {
  if (count > 0) std::memcpy(dst, src, static_cast<size_t>(count) * sizeof(uint32_t));
}

}  // namespace

CScreenDlg::CScreenDlg(int32_t companyId, int32_t visitorId)
    : m_tracker(nullptr, 6, 300, 'Q', 'W', 'E'), m_companyId(companyId), m_visitorId(visitorId) {}

// The view may be gone already (it is often destroyed first): whatever a drag
// held was given back when the dialog ended or the view let go of it.
CScreenDlg::~CScreenDlg() = default;

void CScreenDlg::Detach() {
  AbandonDrag();
  m_view = nullptr;
}

void CScreenDlg::OnInitDialog(PixelBuffer snapshot, std::vector<MonitorArea> monitors) {
  m_cxScreen = snapshot.Width();
  m_cyScreen = snapshot.Height();
  m_snapshot = std::move(snapshot);
  const Rect desktop{0, 0, m_cxScreen, m_cyScreen};
  m_monitors.clear();
  for (MonitorArea& m : monitors) {
    m.bounds = Intersection(m.bounds, desktop);
    m.work = Intersection(m.work, m.bounds);
    if (IsRectEmpty(m.work)) m.work = m.bounds;
    if (!IsRectEmpty(m.bounds)) m_monitors.push_back(m);
  }
  if (m_monitors.empty()) m_monitors.push_back(MonitorArea{desktop, desktop});
  // One pass makes the snapshot opaque (what the surface shows) and the
  // dimmed copy the area outside the selection shows; a paint then only
  // copies rows.
  m_dimmed = PixelBuffer::Blank(m_cxScreen, m_cyScreen);
  const size_t count = static_cast<size_t>(m_cxScreen) * static_cast<size_t>(m_cyScreen);
  uint32_t* snap = m_snapshot.Data();
  uint32_t* dim = m_dimmed.Data();
  for (size_t i = 0; i < count; ++i) {
    snap[i] |= kOpaque;
    dim[i] = DimPixel(snap[i]);
  }
  m_tracker.SetEvents(this);
  m_tracker.style = static_cast<uint16_t>((m_tracker.style & ~CAxTracker::tsSolidBorder) |
                                          CAxTracker::tsHandlesOnEdge | CAxTracker::tsLineFrame);
}

void CScreenDlg::RefreshDimmed(const Rect& area) {
  const Rect a = Intersection(area, Rect{0, 0, m_cxScreen, m_cyScreen});
  for (int32_t y = a.top; y < a.bottom; ++y) {
    const size_t row = static_cast<size_t>(y) * static_cast<size_t>(m_cxScreen);
    const uint32_t* snap = m_snapshot.Data() + row;
    uint32_t* dim = m_dimmed.Data() + row;
    for (int32_t x = a.left; x < a.right; ++x) dim[x] = DimPixel(snap[x]);
  }
}

void CScreenDlg::ComposeBackground(const Rect& area, uint32_t* frame, int stride) const {
  const Rect a = Intersection(area, Rect{0, 0, m_cxScreen, m_cyScreen});
  if (IsRectEmpty(a)) return;
  // The undimmed part: the selection, as far as it lies in the area. An
  // empty selection leaves everything dimmed.
  const Rect s = Intersection(m_rcSelection, a);
  for (int32_t y = a.top; y < a.bottom; ++y) {
    const size_t row = static_cast<size_t>(y) * static_cast<size_t>(m_cxScreen);
    uint32_t* dst = frame + static_cast<ptrdiff_t>(y) * stride;
    const uint32_t* dim = m_dimmed.Data() + row;
    if (y < s.top || y >= s.bottom) {
      CopyRow(dst + a.left, dim + a.left, a.right - a.left);
      continue;
    }
    const uint32_t* snap = m_snapshot.Data() + row;
    CopyRow(dst + a.left, dim + a.left, s.left - a.left);
    CopyRow(dst + s.left, snap + s.left, s.right - s.left);
    CopyRow(dst + s.right, dim + s.right, a.right - s.right);
  }
}

void CScreenDlg::PaintOverlay(Canvas& dc) {
  if (m_bDrawing) {
    Canvas& target = m_dragCanvas ? *m_dragCanvas : dc;
    DrawShape(target);
    m_tracker.Draw(target);
    return;
  }
  if (m_bPlaced || m_bSelecting) m_tracker.Draw(dc);
}

bool CScreenDlg::OnSetCursor(uint32_t hitTestCode) {
  // Once annotated the selection is frozen: no sizing cursors either.
  if (m_bAnnotated || m_bSending || !m_view) return false;
  return m_tracker.OnSetCursor(m_view->TrackHost(), hitTestCode);
}

Rect CScreenDlg::TrackerOuter(const Rect& selection) const {
  // What CAxTracker::Draw leaves in its rect: the selection inset for the
  // handles, put in order, then grown by the handle size.
  const int32_t h = m_tracker.handleSize;
  Rect r = selection;
  if (m_tracker.style & (CAxTracker::tsHandlesOnEdge | CAxTracker::tsHandlesInside)) {
    const int32_t inset = (m_tracker.style & CAxTracker::tsHandlesOnEdge) ? h / 2 + 1 : h;
    r = Inflated(r, -inset, -inset);
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
  }
  return Inflated(r, h, h);
}

void CScreenDlg::ChangeSelection(const Rect& newSelection, bool updateNow) {
  const int32_t h = m_tracker.handleSize;
  // An empty tracker rectangle: the tracker has not been on the screen yet
  // (it is first drawn after the first press).
  std::optional<Region> invalid = m_tracker.GetRegion(kAllParts);
  if (!invalid) invalid.emplace();
  const Rect oldInner = Inflated(m_tracker.rect, -h, -h);
  const bool same = newSelection == m_rcSelection && m_tracker.rect == TrackerOuter(newSelection);
  m_rcSelection = newSelection;
  // The history may hold four copies of the selection's pixels, whatever
  // the number of annotations.
  const Rect area = Ordered(newSelection);
  m_history.SetLimit(4 * sizeof(uint32_t) * static_cast<size_t>(area.right - area.left) *
                     static_cast<size_t>(area.bottom - area.top));
  // The tracker's rectangle is set now, not at the next paint, so that its
  // region covers the new place and that paint reaches it.
  m_tracker.rect = TrackerOuter(newSelection);
  if (same || !m_view) return;
  const std::optional<Region> now = m_tracker.GetRegion(kAllParts);
  if (now) {
    invalid->Union(*now);
    // Inside both interiors the screen shows the undimmed snapshot before
    // and after: nothing to repaint there.
    const Rect keep = Intersection(oldInner, Inflated(m_tracker.rect, -h, -h));
    if (!IsRectEmpty(keep)) invalid->Subtract(Region(keep));
  }
  m_view->Invalidate(&*invalid);
  if (updateNow) m_view->UpdateNow();
}

void CScreenDlg::BeginDrag() {
  if (m_dragCanvas) m_view->ReleaseDragCanvas(m_dragCanvas);
  m_dragCanvas = m_view->AcquireDragCanvas();
  m_view->CaptureMouse();
}

void CScreenDlg::EndDrag() {
  if (m_dragCanvas) m_view->ReleaseDragCanvas(m_dragCanvas);
  m_dragCanvas = nullptr;
  m_view->ReleaseMouse();
}

void CScreenDlg::AbandonDrag() {
  if (!m_bSelecting && !m_bDrawing && !m_dragCanvas) return;
  m_bSelecting = false;
  m_bDrawing = false;
  if (m_view) {
    EndDrag();
  } else {
    m_dragCanvas = nullptr;
  }
}

void CScreenDlg::OnLButtonDown(Point p) {
  if (!m_view || m_nResult >= 0 || m_bSending || m_bDrawing || m_bSelecting) return;
  if (!m_bPlaced) {
    m_ptStart = m_ptEnd = p;
    m_bSelecting = true;
    ChangeSelection(Rect{p.x, p.y, p.x, p.y}, true);
    BeginDrag();
    return;
  }
  const CaptureTool tool = ToolInForce();
  if (tool == CaptureTool::kNone) {
    // Only a press that can move or size the selection hides the toolbar;
    // a drag that ends without commit (the capture was taken away) or
    // cannot start shows it again beside the selection as it is now.
    if (m_bAnnotated || m_tracker.CursorFromHit(m_tracker.HitTest(p)) < 0) return;
    HideToolbar();
    if (!m_tracker.Track(m_view->TrackHost(), p, false, kGrowStep, kGrowStep, kShrinkStep, kShrinkStep,
                         false))
      PlaceToolbar(m_rcSelection);
    HideSize();
    return;
  }
  if (!PtInRect(m_rcSelection, p)) return;
  if (tool == CaptureTool::kText) {
    TextPress(p);
    return;
  }
  m_bDrawing = true;
  m_ptStart = m_ptEnd = p;
  m_penPoints.assign(1, p);
  BeginDrag();
}

void CScreenDlg::OnMouseMove(Point p) {
  if (!m_view) return;
  if (m_bSelecting) {
    m_ptEnd = p;
    ChangeSelection(DragBounds(), true);
    ShowSize();
  } else if (m_bPlaced && m_bDrawing) {
    ShapeMove(p);
  }
}

void CScreenDlg::OnLButtonUp(Point p) {
  (void)p;
  if (!m_view) return;
  if (m_bSelecting) {
    // A click without a drag places an empty selection at the click point.
    OnTrackEnd(&m_rcSelection);
    HideSize();
    m_bPlaced = true;
    m_bSelecting = false;
    EndDrag();
  } else if (m_bPlaced && m_bDrawing) {
    ShapeRelease();
  }
}

void CScreenDlg::OnTracking(Rect* proposed, int32_t hit, const Rect* previous, bool xDir, bool yDir,
                            int32_t extX, int32_t extY, CAxTracker::ITrackLines* lines) {
  (void)hit, (void)xDir, (void)yDir, (void)extX, (void)extY, (void)lines;
  // Held on the screen with the previous size, also while one edge is
  // dragged: the opposite edge gives way rather than the size.
  auto hold = [](int32_t& low, int32_t& high, int32_t size, int32_t limit) {
    if (low < 0) {
      low = 0;
      high = size;
    }
    if (high > limit) {
      high = limit;
      low = limit - size;
    }
  };
  hold(proposed->left, proposed->right, previous->right - previous->left, m_cxScreen);
  hold(proposed->top, proposed->bottom, previous->bottom - previous->top, m_cyScreen);
  // The drag loop keeps its edges as dragged (they may cross); the dialog's
  // selection is always in order.
  ChangeSelection(Ordered(*proposed), true);
  ShowSize();
}

void CScreenDlg::GetRect(Rect* out) { *out = m_rcSelection; }

void CScreenDlg::OnTrackEnd(const Rect* final) {
  // The committed rectangle is the selection: a drag that ended with an
  // extension key held reports it without the extension.
  const Rect r = Ordered(*final);
  ChangeSelection(r, false);
  HideSize();
  if (m_view) {
    // The frame is redrawn at its final place with the next paint.
    const std::optional<Region> area = m_tracker.GetRegion(kAllParts);
    m_view->Invalidate(area ? &*area : nullptr);
  }
  PlaceToolbar(r);
}

void CScreenDlg::OnDrawTracking(Canvas* dc, const Rect* rect) { (void)dc, (void)rect; }

const MonitorArea& CScreenDlg::MonitorAt(Point p) const {
  static const MonitorArea kNone{};
  if (m_monitors.empty()) return kNone;
  const MonitorArea* nearest = &m_monitors.front();
  int64_t best = INT64_MAX;
  for (const MonitorArea& m : m_monitors) {
    if (PtInRect(m.bounds, p)) return m;
    const int64_t dx = p.x < m.bounds.left ? m.bounds.left - p.x : std::max(0, p.x - (m.bounds.right - 1));
    const int64_t dy = p.y < m.bounds.top ? m.bounds.top - p.y : std::max(0, p.y - (m.bounds.bottom - 1));
    if (dx * dx + dy * dy < best) {
      best = dx * dx + dy * dy;
      nearest = &m;
    }
  }
  return *nearest;
}

Rect CScreenDlg::ToolbarArea(const Rect& rect) const {
  // Below, above or inside the selection as on one screen, but within the
  // work area of the monitor that holds the selection's bottom-right corner.
  const Rect work = MonitorAt(Point{rect.right - 1, rect.bottom - 1}).work;
  int32_t y;
  if (rect.bottom + kCellHeight + kToolbarGap <= work.bottom)
    y = rect.bottom + kToolbarGap;  // below
  else if (rect.top - kCellHeight - kToolbarGap > work.top)
    y = rect.top - kCellHeight - kToolbarGap;  // above
  else
    y = rect.bottom - kCellHeight - kToolbarGap;  // inside, along the bottom edge
  y = std::max(work.top, std::min(y, work.bottom - kCellHeight));
  int32_t x = rect.right - kToolbarWidth;
  x = std::min(x, work.right - kToolbarWidth);
  if (x < work.left) x = work.left;
  return Rect{x, y, x + kToolbarWidth, y + kCellHeight};
}

Rect CScreenDlg::SizeLabelArea(const Rect& selection) const {
  const int32_t w =
      kSizeLabelPadding + kSizeLabelCharWidth * static_cast<int32_t>(SizeText(selection).size());
  const Rect screen = MonitorAt(Point{selection.left, selection.top}).bounds;
  // Just above the top-left corner; inside it when there is no room above.
  int32_t y = selection.top - kSizeLabelHeight;
  if (y < screen.top) y = selection.top;
  y = std::max(screen.top, std::min(y, screen.bottom - kSizeLabelHeight));
  const int32_t x = std::max(screen.left, std::min(selection.left, screen.right - w));
  return Rect{x, y, x + w, y + kSizeLabelHeight};
}

void CScreenDlg::ShowSize() {
  if (m_view) m_view->ShowSizeLabel(SizeLabelArea(m_rcSelection), SizeText(m_rcSelection));
}

void CScreenDlg::HideSize() {
  if (m_view) m_view->ShowSizeLabel(Rect{}, u"");
}

void CScreenDlg::PlaceToolbar(const Rect& rect) {
  if (!m_view) return;
  const Rect area = ToolbarArea(rect);
  int32_t x = area.left;
  for (int id : kToolbarButtons) {
    m_view->MoveButton(id, Rect{x, area.top, x + kCellWidth, area.bottom});
    m_view->ShowButton(id, true);
    x += kCellWidth;
  }
  UpdateUndoButton();
}

void CScreenDlg::HideToolbar() {
  if (!m_view) return;
  for (int id : kToolbarButtons) m_view->ShowButton(id, false);
}

Rect CScreenDlg::DragBounds() const {
  return Rect{std::min(m_ptStart.x, m_ptEnd.x), std::min(m_ptStart.y, m_ptEnd.y),
              std::max(m_ptStart.x, m_ptEnd.x), std::max(m_ptStart.y, m_ptEnd.y)};
}

CaptureTool CScreenDlg::ToolInForce() const {
  if (!m_view) return CaptureTool::kNone;
  if (m_view->IsButtonChecked(kBtnArrow)) return CaptureTool::kArrow;
  if (m_view->IsButtonChecked(kBtnEllipse)) return CaptureTool::kEllipse;
  if (m_view->IsButtonChecked(kBtnRectangle)) return CaptureTool::kRectangle;
  if (m_view->IsButtonChecked(kBtnText)) return CaptureTool::kText;
  if (m_view->IsButtonChecked(kBtnPen)) return CaptureTool::kPen;
  if (m_view->IsButtonChecked(kBtnMosaic)) return CaptureTool::kMosaic;
  return CaptureTool::kNone;
}

void CScreenDlg::End(int result) {
  m_nResult = result;
  // Ending with the button still down (Esc, the window closed, the program
  // leaving) ends the drag too, while the view is still there to take back
  // its canvas and the mouse.
  AbandonDrag();
  if (m_view) m_view->EndDialog(result);
}

void CScreenDlg::OnCancel() {
  if (m_bSending) {
    m_bSendCancelled = true;
    return;
  }
  if (m_nResult < 0) {
    m_report.outcome = CaptureReport::Outcome::kCancelled;
    End(kCaptureCancelled);
  }
}

}  // namespace parlex
