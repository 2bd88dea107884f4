// The tracker's window on Windows: ITrackerWindow and ITrackHost over an
// HWND, so that CAxTracker's portable logic and drag loop run on a real
// window. The drag loop is a nested GetMessageW loop: it takes the mouse
// capture, draws its feedback on the window's DC (GetDC, not-xor), runs the
// feedback timer 0xFFEFF on the window and reads keys with GetKeyState.
//
// Typical use by a window that owns a tracker:
//
//   InitTracker(tracker);                        // once, after construction
//   // WM_PAINT:      GdiCanvas canvas(paintDc); tracker.Draw(canvas);
//   // WM_SETCURSOR:  if (TrackerSetCursor(tracker, hwnd, lParam)) return TRUE;
//   // WM_LBUTTONDOWN:
//   //   TrackWin32(tracker, hwnd, {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)},
//   //              false, 8, 8, 5, 5, false);
//   // invalidation: HRGN rgn = RegionToHrgn(*tracker.GetRegion(0x1F));
#pragma once

#include <windows.h>

#include <optional>

#include "capture/ax_tracker.h"
#include "capture/region.h"
#include "capture/track_host.h"
#include "capture/win32/gdi_canvas.h"

namespace parlex::win32 {

// Outside a drag: the cursor position and the shared tracker cursors.
class TrackerWindowWin32 : public ITrackHost {
 public:
  explicit TrackerWindowWin32(HWND window);
  ~TrackerWindowWin32() override;
  TrackerWindowWin32(const TrackerWindowWin32&) = delete;
  TrackerWindowWin32& operator=(const TrackerWindowWin32&) = delete;

  HWND Window() const { return window_; }

  // ITrackerWindow
  Point CursorPos() override;  // GetCursorPos + ScreenToClient
  void SetCursor(int index) override;

  // ITrackHost
  bool IsCaptureHeld() override;
  bool HasCapture() override;
  void TakeCapture() override;
  void ReleaseCapture() override;
  void DiscardMouseMoves() override;
  Canvas* AcquireCanvas() override;
  void ReleaseCanvas(Canvas* canvas) override;
  bool SetFeedbackTimer(uintptr_t id, uint32_t milliseconds) override;
  void KillFeedbackTimer(uintptr_t id) override;
  bool IsKeyDown(uint32_t vk) override;
  TrackEvent WaitEvent() override;
  void Dispatch(const TrackEvent& event) override;
  void RepostQuit(int32_t code) override;

 private:
  HWND window_;
  HDC dc_ = nullptr;
  std::optional<GdiCanvas> canvas_;
  MSG msg_{};  // the message WaitEvent answered last, for Dispatch
};

// The message WaitEvent answers for `msg`, as the drag loop sees it;
// `trackWindow` tells which timers are the loop's own.
TrackEvent TrackEventFromMessage(const MSG& msg, HWND trackWindow);

// WM_SETCURSOR: the tracker's cursor for the mouse position; true when one
// was set (the window then answers TRUE).
bool TrackerSetCursor(const CAxTracker& tracker, HWND window, LPARAM lParam);

// The drag loop on `window` (CAxTracker::Track with a TrackerWindowWin32).
bool TrackWin32(CAxTracker& tracker, HWND window, Point point, bool rubberBand, uint16_t growX,
                uint16_t growY, uint16_t shrinkX, uint16_t shrinkY, bool feedback);

// A new HRGN holding the region (the caller deletes it); null if it could not
// be created.
HRGN RegionToHrgn(const Region& region);

}  // namespace parlex::win32
