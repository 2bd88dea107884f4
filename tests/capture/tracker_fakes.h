// A scripted window and a recording owner for the tracker's tests: the host
// plays a list of events to the drag loop and logs every platform call; the
// owner logs every callback with its arguments.
#pragma once

#include <deque>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "capture/ax_tracker.h"
#include "capture/pixel_canvas.h"
#include "capture/track_host.h"

namespace parlex::testing {

inline std::string Str(const Rect& r) {
  std::ostringstream s;
  s << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
  return s.str();
}

// A background where every pixel differs from its neighbours, so that a
// drawing removed at the wrong place cannot go unnoticed.
inline PixelBuffer NoisyBuffer(int w, int h) {
  PixelBuffer b(w, h);
  uint32_t v = 0x12345u;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      v = v * 1103515245u + 12345u;
      b.Set(x, y, (v >> 8) & 0xFFFFFFu);
    }
  return b;
}

class ScriptedHost : public ITrackHost {
 public:
  using Step = std::variant<TrackEvent, std::function<void()>>;

  explicit ScriptedHost(int w = 400, int h = 300) : buffer(NoisyBuffer(w, h)), canvas(buffer) {}

  // The script: events, and actions that run when WaitEvent reaches them.
  void Add(const TrackEvent& e) { script.push_back(e); }
  void Do(std::function<void()> f) { script.push_back(std::move(f)); }
  void Move(int x, int y) { Add(TrackEvent::MouseMove(x, y)); }

  Point CursorPos() override { return cursorPos; }
  void SetCursor(int index) override {
    cursors.push_back(index);
    log.push_back("SetCursor " + std::to_string(index));
  }
  bool IsCaptureHeld() override {
    log.push_back("IsCaptureHeld");
    return otherHoldsCapture || weHoldCapture;
  }
  bool HasCapture() override { return weHoldCapture; }
  void TakeCapture() override {
    log.push_back("TakeCapture");
    weHoldCapture = true;
  }
  void ReleaseCapture() override {
    log.push_back("ReleaseCapture");
    weHoldCapture = false;
  }
  void DiscardMouseMoves() override { log.push_back("DiscardMouseMoves"); }
  Canvas* AcquireCanvas() override {
    log.push_back("AcquireCanvas");
    ++canvasesOut;
    return &canvas;
  }
  void ReleaseCanvas(Canvas* c) override {
    log.push_back("ReleaseCanvas");
    if (c == &canvas) --canvasesOut;
    modeAtRelease = canvas.SetRasterMode(RasterMode::kCopyPen);
    canvas.SetRasterMode(modeAtRelease);
  }
  bool SetFeedbackTimer(uintptr_t id, uint32_t ms) override {
    log.push_back("SetTimer " + std::to_string(id) + " " + std::to_string(ms));
    return timerWorks;
  }
  void KillFeedbackTimer(uintptr_t id) override { log.push_back("KillTimer " + std::to_string(id)); }
  bool IsKeyDown(uint32_t vk) override { return keysDown.count(vk) != 0; }
  TrackEvent WaitEvent() override {
    while (!script.empty()) {
      Step step = std::move(script.front());
      script.pop_front();
      if (auto* f = std::get_if<std::function<void()>>(&step)) {
        (*f)();
        continue;
      }
      ++eventsServed;
      return std::get<TrackEvent>(step);
    }
    // The script ran out: a test that gets here forgot to end its drag.
    ranOut = true;
    return TrackEvent::Simple(TrackEvent::Kind::kFailed);
  }
  void Dispatch(const TrackEvent& e) override {
    log.push_back("Dispatch");
    if (onDispatch) onDispatch(e);
  }
  void RepostQuit(int32_t code) override { log.push_back("RepostQuit " + std::to_string(code)); }

  PixelBuffer buffer;
  PixelCanvas canvas;
  std::deque<Step> script;
  std::vector<std::string> log;
  std::vector<int> cursors;
  std::set<uint32_t> keysDown;
  std::function<void(const TrackEvent&)> onDispatch;
  Point cursorPos{};
  bool otherHoldsCapture = false;
  bool weHoldCapture = false;
  bool timerWorks = true;
  bool ranOut = false;
  int canvasesOut = 0;
  int eventsServed = 0;
  RasterMode modeAtRelease = RasterMode::kCopyPen;
};

class RecordingOwner : public IAxTrackerEvents {
 public:
  struct Tracking {
    Rect proposed;
    int32_t hit;
    Rect previous;
    bool xDir, yDir;
    int32_t extX, extY;
  };

  void OnTracking(Rect* proposed, int32_t hit, const Rect* previous, bool xDir, bool yDir, int32_t extX,
                  int32_t extY, CAxTracker::ITrackLines* lines) override {
    tracking.push_back(Tracking{*proposed, hit, *previous, xDir, yDir, extX, extY});
    log.push_back("OnTracking " + Str(*proposed));
    if (correct) correct(*proposed, *previous, *lines);
  }
  void GetRect(Rect* out) override {
    log.push_back("GetRect");
    *out = rect;
  }
  void OnTrackEnd(const Rect* final) override {
    log.push_back("OnTrackEnd " + Str(*final));
    ended.push_back(*final);
  }
  void OnDrawTracking(Canvas* dc, const Rect* r) override {
    log.push_back("OnDrawTracking " + Str(*r));
    if (drawInFeedback && dc) {
      // Something of the owner's own in the feedback: a cross at the centre.
      const Point c{(r->left + r->right) / 2, (r->top + r->bottom) / 2};
      dc->SetPixel(c, Rgb(0, 200, 0));
      dc->SetPixel(Point{c.x + 1, c.y}, Rgb(0, 200, 0));
    }
  }

  Rect rect{100, 100, 200, 160};
  std::function<void(Rect&, const Rect&, CAxTracker::ITrackLines&)> correct;
  bool drawInFeedback = false;
  std::vector<std::string> log;
  std::vector<Tracking> tracking;
  std::vector<Rect> ended;
};

}  // namespace parlex::testing
