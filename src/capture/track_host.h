// What the selection tracker needs of the window it works on: the mouse
// position and the cursor (ITrackerWindow), and for a drag the mouse capture,
// a timer, the key state, a canvas on the window and the thread's messages
// (ITrackHost). The tracker's logic and its drag loop are portable; each
// platform implements these two interfaces over its own window (Win32:
// GetCapture/SetCapture, SetTimer, GetKeyState, GetDC + SetROP2,
// GetMessageW/DispatchMessageW; Qt: mouse grab, QTimer, key state, a nested
// QEventLoop, a PixelCanvas on the surface the window shows).
#pragma once

#include <cstdint>

#include "capture/canvas.h"
#include "capture/geometry.h"

namespace parlex {

// One message of the thread, as the drag loop sees it. The platform turns each
// message it takes from its queue into one TrackEvent; `native` lets it
// dispatch that very message again when the loop asks it to.
struct TrackEvent {
  enum class Kind : uint8_t {
    kMouseMove,    // WM_MOUSEMOVE: pos = client position (the signed 16-bit words of lParam)
    kKeyDown,      // WM_KEYDOWN: key = virtual-key code
    kKeyUp,        // WM_KEYUP: key = virtual-key code
    kTimer,        // WM_TIMER: timerId; forTrackWindow tells whether it is for the tracking window
    kMouseWheel,   // WM_MOUSEWHEEL: removes the feedback, is dispatched, redraws the feedback
    kLeftUp,       // WM_LBUTTONUP: ends the drag, committed
    kRightDown,    // WM_RBUTTONDOWN: ends the drag, committed
    kCaptureLost,  // the tracking window no longer has the capture (also found by HasCapture)
    kQuit,         // WM_QUIT (GetMessageW answered 0): quitCode = its wParam
    kFailed,       // the message retrieval failed (GetMessageW answered -1)
    kOther         // anything else: dispatched as it is
  };

  Kind kind = Kind::kOther;
  Point pos{};                   // kMouseMove
  uint32_t key = 0;              // kKeyDown, kKeyUp
  uintptr_t timerId = 0;         // kTimer
  bool forTrackWindow = false;   // kTimer
  int32_t quitCode = 0;          // kQuit
  const void* native = nullptr;  // the platform's own message, for Dispatch

  static TrackEvent MouseMove(int32_t x, int32_t y) {
    TrackEvent e;
    e.kind = Kind::kMouseMove;
    e.pos = Point{x, y};
    return e;
  }
  static TrackEvent KeyDown(uint32_t vk) {
    TrackEvent e;
    e.kind = Kind::kKeyDown;
    e.key = vk;
    return e;
  }
  static TrackEvent KeyUp(uint32_t vk) {
    TrackEvent e;
    e.kind = Kind::kKeyUp;
    e.key = vk;
    return e;
  }
  static TrackEvent Timer(uintptr_t id, bool forTrackWindow) {
    TrackEvent e;
    e.kind = Kind::kTimer;
    e.timerId = id;
    e.forTrackWindow = forTrackWindow;
    return e;
  }
  static TrackEvent Simple(Kind kind) {
    TrackEvent e;
    e.kind = kind;
    return e;
  }
  static TrackEvent Quit(int32_t code) {
    TrackEvent e;
    e.kind = Kind::kQuit;
    e.quitCode = code;
    return e;
  }
};

// The tracker's view of its window outside a drag.
class ITrackerWindow {
 public:
  virtual ~ITrackerWindow() = default;
  // The mouse position in the window's client coordinates (GetCursorPos +
  // ScreenToClient).
  virtual Point CursorPos() = 0;
  // Shows cursor `index` (0 to 5) of the tracker's shared cursor table
  // (resources 207 to 212; index 0 = 207), as SetCursor does.
  virtual void SetCursor(int index) = 0;
};

// The tracker's view of its window during a drag (CAxTracker::Track). Calls
// arrive in this order: IsCaptureHeld, DiscardMouseMoves, TakeCapture,
// AcquireCanvas; then SetFeedbackTimer/IsKeyDown (start); then WaitEvent and,
// per event, HasCapture first, then Dispatch, KillFeedbackTimer, SetCursor or
// drawing on the canvas; at the end KillFeedbackTimer, ReleaseCanvas,
// ReleaseCapture and, for a quit request, RepostQuit.
class ITrackHost : public ITrackerWindow {
 public:
  // GetCapture() != null: any window of the thread holds the mouse capture
  // (the tracking window included). A drag refuses to start then.
  virtual bool IsCaptureHeld() = 0;
  // GetCapture() == the tracking window. Asked after every event; false ends
  // the drag without commit.
  virtual bool HasCapture() = 0;
  virtual void TakeCapture() = 0;     // SetCapture(window)
  virtual void ReleaseCapture() = 0;  // ReleaseCapture()
  // Removes every queued mouse-move message of the window (PeekMessageW with
  // PM_REMOVE for WM_MOUSEMOVE until none is left).
  virtual void DiscardMouseMoves() = 0;

  // The canvas on the window's client area (GetDC), valid until
  // ReleaseCanvas. The tracker sets its raster mode itself (not-xor for the
  // whole drag) and restores the previous one before releasing it. What is
  // drawn on it must reach the screen without a paint (on Linux: the host
  // shows the surface after each event).
  virtual Canvas* AcquireCanvas() = 0;
  virtual void ReleaseCanvas(Canvas* canvas) = 0;

  // SetTimer(window, id, ms): true when the timer runs.
  virtual bool SetFeedbackTimer(uintptr_t id, uint32_t milliseconds) = 0;
  virtual void KillFeedbackTimer(uintptr_t id) = 0;

  // GetKeyState(vk) has its high bit set: the key is down now.
  virtual bool IsKeyDown(uint32_t vk) = 0;

  // Waits for the next message of any window of the thread (GetMessageW) and
  // answers it. Keyboard messages are not translated. A platform whose loop
  // can no longer deliver (its window is gone) answers kFailed.
  virtual TrackEvent WaitEvent() = 0;
  // DispatchMessageW of event.native (paints and the messages of other windows
  // go on while a drag runs).
  virtual void Dispatch(const TrackEvent& event) = 0;
  // A quit request ends a drag without commit; the loop hands it back here
  // after the drag has been wound up so the program still ends
  // (PostQuitMessage(code)).
  virtual void RepostQuit(int32_t code) = 0;
};

}  // namespace parlex
