// The tracker's window on Linux: ITrackerWindow and ITrackHost over a
// CaptureSurfaceQt, so that CAxTracker's portable logic and drag loop run on
// a Qt widget. The drag loop is a nested QEventLoop: the widget grabs the
// mouse, an application-wide event filter takes the mouse and key events the
// loop handles (whichever widget they are for) and hands them to the loop one
// by one, a QTimer stands for the feedback timer, and the feedback is drawn
// with PixelCanvas into the image the widget shows.
//
// Typical use by a widget that owns a tracker (the capture window):
//
//   InitTrackerQt(tracker);                     // once
//   // after each repaint of the image: tracker.Draw(*surface.MakeCanvas());
//   // mouseMoveEvent without buttons: TrackerSetCursorQt(tracker, surface, pos);
//   // mousePressEvent (left): TrackQt(tracker, surface, pos, false, 8, 8, 5, 5, false);
//   // invalidation: surface.update(ToQRegion(*tracker.GetRegion(0x1F)));
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <memory>
#include <set>

#include "capture/ax_tracker.h"
#include "capture/qt/capture_surface_qt.h"
#include "capture/track_host.h"

class QEventLoop;
class QMouseEvent;

namespace parlex::qt {

// The virtual-key code the tracker's keys are given in (letters, digits,
// Esc, Shift, Ctrl, Alt, Enter, Space, Tab, Backspace, arrows, F1 to F12)
// for a Qt key; 0 for keys without one.
uint32_t VirtualKeyFromQt(int qtKey);

// Which keys are down now, followed from the key events of the whole
// application (installed with the first tracker host, kept for the process).
class KeyStateQt : public QObject {
 public:
  static KeyStateQt& Instance();
  bool IsDown(uint32_t vk) const;
  void Note(uint32_t vk, bool down);
  // Forget every key (a test's fresh start, or after focus left the program).
  void Clear() { down_.clear(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  KeyStateQt();
  std::set<uint32_t> down_;
};

class TrackHostQt : public QObject, public ITrackHost {
 public:
  explicit TrackHostQt(CaptureSurfaceQt* surface);
  ~TrackHostQt() override;

  // The position the cursor is taken to be at, in image pixels (Qt sends it
  // with each mouse event); without one, QCursor::pos() mapped to the
  // surface's image.
  void SetCursorPosHint(QPoint pos) {
    hint_ = pos;
    hasHint_ = true;
  }
  // Ends a drag in progress without commit (its window is going away): the
  // loop hears that the capture was lost. Nothing when no drag runs.
  void Abandon();

  // The tracker cursor index last shown through SetCursor, -1 before any.
  int LastCursor() const { return lastCursor_; }

  // ITrackerWindow
  Point CursorPos() override;
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

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Pending {
    TrackEvent event;
    QPointer<QObject> receiver;      // for a dispatched wheel event
    std::shared_ptr<QEvent> native;  // a copy of it
  };

  void Enqueue(Pending pending);
  // A mouse event's position as the surface's image pixel.
  Point ToSurface(QObject* receiver, const QMouseEvent& event) const;

  QPointer<CaptureSurfaceQt> surface_;
  std::unique_ptr<PixelCanvas> canvas_;
  QTimer feedbackTimer_;
  uintptr_t feedbackId_ = 0;
  QEventLoop* loop_ = nullptr;  // the nested loop while WaitEvent waits
  bool filtering_ = false;      // the filter is installed (between TakeCapture and ReleaseCapture)
  bool dispatching_ = false;    // Dispatch is sending an event on: let it through
  bool captureLostQueued_ = false;
  bool quitByEvent_ = false;  // the quit request came as QEvent::Quit (else QCoreApplication::exit)
  std::deque<Pending> queue_;
  Pending current_;
  QPoint hint_;
  bool hasHint_ = false;
  int lastCursor_ = -1;
};

// The Linux desktop has no caption colour of the kind the tracker paints
// with: it keeps the default colours of Windows' standard scheme, so both
// builds draw the same pixels. Also installs the key-state filter, so keys
// already held when a drag starts are known.
void InitTrackerQt(CAxTracker& tracker);

// Back to the widget's default cursor after a tracker cursor (the cursor a
// window without a tracker cursor shows).
void ShowDefaultCursor(QWidget* widget);

// The cursor for the mouse at `pos` (widget coordinates), as WM_SETCURSOR
// does on Windows: the tracker's cursor where it has one, else the widget's
// default cursor. True when the tracker's cursor was set.
bool TrackerSetCursorQt(const CAxTracker& tracker, CaptureSurfaceQt* surface, QPoint pos);

// The drag loop on `surface` (CAxTracker::Track with a TrackHostQt), from
// the widget position `point`.
bool TrackQt(CAxTracker& tracker, CaptureSurfaceQt* surface, QPoint point, bool rubberBand, uint16_t growX,
             uint16_t growY, uint16_t shrinkX, uint16_t shrinkY, bool feedback);

}  // namespace parlex::qt
