// The tracker's drag loop as a state machine fed with events. CAxTracker::Track
// runs it over ITrackHost::WaitEvent; a platform that prefers to feed events
// itself (or a test) can drive it directly:
//
//   TrackLoop loop(tracker, host, args);
//   if (loop.Start())
//     while (loop.Feed(host.WaitEvent())) {}
//   bool committed = loop.Result();
//
// Start takes the capture and the canvas; the loop ends on left-button
// release, right-button press or Esc (committed: OnTrackEnd is called), on the
// loss of the capture, a quit request or a failed message retrieval (not
// committed). Feed answers false once the loop has ended and everything taken
// has been given back.
#pragma once

#include <array>
#include <cstdint>

#include "capture/ax_tracker.h"
#include "capture/geometry.h"
#include "capture/track_host.h"

namespace parlex {

struct TrackArgs {
  Point point{};            // the press point, client coordinates
  bool rubberBand = false;  // drag a new rectangle from point by its bottom-right corner
  uint16_t growX = 0;       // extension amounts (widen / heighten keys)
  uint16_t growY = 0;
  uint16_t shrinkX = 0;  // narrowing amounts while the shrink key is held
  uint16_t shrinkY = 0;
  bool feedback = false;  // draw the feedback frame and the guide lines
};

// Virtual-key code of Esc.
inline constexpr uint32_t kVkEscape = 0x1B;

class TrackLoop {
 public:
  TrackLoop(CAxTracker& tracker, ITrackHost& host, const TrackArgs& args);
  ~TrackLoop();
  TrackLoop(const TrackLoop&) = delete;
  TrackLoop& operator=(const TrackLoop&) = delete;

  // The start steps. False, with nothing taken and nothing called on the
  // owner, when the press point has no cursor or a window holds the capture.
  bool Start();
  // One event. False when the loop has ended with it (or had ended before).
  bool Feed(const TrackEvent& event);
  bool Running() const { return running_; }
  // After the end: committed with an owner set.
  bool Result() const { return result_; }

  // State, for whoever needs to look (tests, a platform's diagnostics).
  int32_t Hit() const { return hit_; }
  const Rect& StartRect() const { return startRect_; }
  const Rect& LastRect() const { return lastRect_; }
  const Rect& NewRect() const { return newRect_; }
  bool ExtX() const { return extX_; }
  bool ExtY() const { return extY_; }
  int32_t Dx() const { return dx_; }
  int32_t Dy() const { return dy_; }
  bool XDir() const { return xDir_; }
  bool YDir() const { return yDir_; }
  bool FrameShown() const { return frameShown_; }
  const std::array<Point, 4>& History() const { return history_; }

 private:
  void MoveStep(Point p);
  void WidenDown();
  void HeightenDown();
  void ShrinkDown();
  void WidenUp();
  void HeightenUp();
  void ShrinkUp();
  void OtherMessage(const TrackEvent& event);
  void Finish(bool committed);

  void DrawTrackFrame(const Rect& r);
  void DrawDottedFrame(const Rect& r);
  void DrawExtensionFrame(const Rect& r);

  CAxTracker& tracker_;
  ITrackHost& host_;
  TrackArgs args_;

  Canvas* dc_ = nullptr;
  RasterMode oldMode_ = RasterMode::kCopyPen;
  bool running_ = false;
  bool result_ = false;
  bool quitPending_ = false;
  int32_t quitCode_ = 0;

  int32_t hit_ = CAxTracker::hitNone;
  Rect startRect_{};
  Rect lastRect_{};
  Rect newRect_{};
  int32_t dx_ = 0;
  int32_t dy_ = 0;
  bool extX_ = false;
  bool extY_ = false;
  bool shrinkHeld_ = false;
  bool frameShown_ = false;
  bool linesShown_ = false;
  bool timerRunning_ = false;
  CAxTracker::CLineColl shownLines_;
  std::array<Point, 4> history_{};  // oldest first
  bool xDir_ = true;
  bool yDir_ = true;
};

}  // namespace parlex
