#include "capture/win32/track_host_win32.h"

#include "capture/win32/tracker_resources_win32.h"
#include "platform/win32/scoped_handle.h"

namespace parlex::win32 {

TrackerWindowWin32::TrackerWindowWin32(HWND window) : window_(window) { EnsureTrackerResources(); }

TrackerWindowWin32::~TrackerWindowWin32() {
  if (canvas_) ReleaseCanvas(&*canvas_);
}

Point TrackerWindowWin32::CursorPos() {
  POINT p{};
  ::GetCursorPos(&p);
  ::ScreenToClient(window_, &p);
  return Point{p.x, p.y};
}

void TrackerWindowWin32::SetCursor(int index) {
  if (HCURSOR cursor = TrackerCursor(index)) ::SetCursor(cursor);
}

bool TrackerWindowWin32::IsCaptureHeld() { return ::GetCapture() != nullptr; }

bool TrackerWindowWin32::HasCapture() { return ::GetCapture() == window_; }

void TrackerWindowWin32::TakeCapture() { ::SetCapture(window_); }

void TrackerWindowWin32::ReleaseCapture() { ::ReleaseCapture(); }

void TrackerWindowWin32::DiscardMouseMoves() {
  MSG m;
  while (::PeekMessageW(&m, window_, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE)) {
  }
}

Canvas* TrackerWindowWin32::AcquireCanvas() {
  if (canvas_) return &*canvas_;
  dc_ = ::GetDC(window_);
  if (!dc_) return nullptr;
  canvas_.emplace(dc_);
  return &*canvas_;
}

void TrackerWindowWin32::ReleaseCanvas(Canvas* canvas) {
  if (!canvas_ || canvas != &*canvas_) return;
  canvas_.reset();  // gives the DC back as it was
  ::ReleaseDC(window_, dc_);
  dc_ = nullptr;
}

bool TrackerWindowWin32::SetFeedbackTimer(uintptr_t id, uint32_t milliseconds) {
  return ::SetTimer(window_, id, milliseconds, nullptr) != 0;
}

void TrackerWindowWin32::KillFeedbackTimer(uintptr_t id) { ::KillTimer(window_, id); }

bool TrackerWindowWin32::IsKeyDown(uint32_t vk) {
  return (::GetKeyState(static_cast<int>(vk)) & 0x8000) != 0;
}

TrackEvent TrackEventFromMessage(const MSG& msg, HWND trackWindow) {
  TrackEvent e;
  switch (msg.message) {
    case WM_MOUSEMOVE:
      e = TrackEvent::MouseMove(static_cast<int16_t>(LOWORD(msg.lParam)),
                                static_cast<int16_t>(HIWORD(msg.lParam)));
      break;
    case WM_KEYDOWN:
      e = TrackEvent::KeyDown(static_cast<uint32_t>(msg.wParam));
      break;
    case WM_KEYUP:
      e = TrackEvent::KeyUp(static_cast<uint32_t>(msg.wParam));
      break;
    case WM_TIMER:
      e = TrackEvent::Timer(msg.wParam, msg.hwnd == trackWindow);
      break;
    case WM_MOUSEWHEEL:
      e = TrackEvent::Simple(TrackEvent::Kind::kMouseWheel);
      break;
    case WM_LBUTTONUP:
      e = TrackEvent::Simple(TrackEvent::Kind::kLeftUp);
      break;
    case WM_RBUTTONDOWN:
      e = TrackEvent::Simple(TrackEvent::Kind::kRightDown);
      break;
    default:
      e = TrackEvent::Simple(TrackEvent::Kind::kOther);
      break;
  }
  return e;
}

TrackEvent TrackerWindowWin32::WaitEvent() {
  const BOOL got = ::GetMessageW(&msg_, nullptr, 0, 0);
  if (got == 0) return TrackEvent::Quit(static_cast<int32_t>(msg_.wParam));
  if (got == -1) return TrackEvent::Simple(TrackEvent::Kind::kFailed);
  TrackEvent e = TrackEventFromMessage(msg_, window_);
  e.native = &msg_;
  return e;
}

void TrackerWindowWin32::Dispatch(const TrackEvent& event) {
  if (event.native) ::DispatchMessageW(static_cast<const MSG*>(event.native));
}

void TrackerWindowWin32::RepostQuit(int32_t code) { ::PostQuitMessage(code); }

bool TrackerSetCursor(const CAxTracker& tracker, HWND window, LPARAM lParam) {
  TrackerWindowWin32 host(window);
  return tracker.OnSetCursor(host, LOWORD(lParam));
}

bool TrackWin32(CAxTracker& tracker, HWND window, Point point, bool rubberBand, uint16_t growX,
                uint16_t growY, uint16_t shrinkX, uint16_t shrinkY, bool feedback) {
  TrackerWindowWin32 host(window);
  return tracker.Track(host, point, rubberBand, growX, growY, shrinkX, shrinkY, feedback);
}

HRGN RegionToHrgn(const Region& region) {
  HRGN out = ::CreateRectRgn(0, 0, 0, 0);
  if (!out) return nullptr;
  for (const Rect& r : region.Rects()) {
    ScopedGdiObject<HRGN> part(::CreateRectRgn(r.left, r.top, r.right, r.bottom));
    if (part) ::CombineRgn(out, out, part.Get(), RGN_OR);
  }
  return out;
}

}  // namespace parlex::win32
