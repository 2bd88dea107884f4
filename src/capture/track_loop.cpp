#include "capture/track_loop.h"

#include <algorithm>

namespace parlex {
namespace {

bool IsMoveHit(int32_t hit) { return hit == CAxTracker::hitInside || hit == CAxTracker::hitBorder; }

}  // namespace

TrackLoop::TrackLoop(CAxTracker& tracker, ITrackHost& host, const TrackArgs& args)
    : tracker_(tracker), host_(host), args_(args) {}

TrackLoop::~TrackLoop() {
  // A loop abandoned by its driver still gives back the capture and the canvas.
  if (running_) Finish(false);
}

bool TrackLoop::Start() {
  if (running_) return false;
  // 1. What is dragged; a part without a cursor cannot be dragged.
  if (args_.rubberBand) {
    hit_ = CAxTracker::hitBottomRight;
  } else {
    hit_ = tracker_.HitTest(args_.point);
    if (tracker_.CursorFromHit(hit_) == -1) return false;
  }
  // 2. Someone else's drag (or our own) is under way.
  if (host_.IsCaptureHeld()) return false;

  // 3. Capture and canvas.
  host_.DiscardMouseMoves();
  host_.TakeCapture();
  dc_ = host_.AcquireCanvas();
  if (dc_) oldMode_ = dc_->SetRasterMode(RasterMode::kNotXorPen);

  // 4. Local state.
  const Point p = args_.point;
  startRect_ = lastRect_ = newRect_ = Rect{p.x, p.y, p.x, p.y};
  shownLines_.Clear();
  shownLines_.lines.reserve(8);
  dx_ = args_.growX;
  dy_ = args_.growY;
  extX_ = extY_ = shrinkHeld_ = timerRunning_ = frameShown_ = linesShown_ = false;
  result_ = false;
  quitPending_ = false;

  // 5. A move or resize starts from the owner's rectangle, with the keys
  // already held applied.
  IAxTrackerEvents* owner = tracker_.owner;
  if (!args_.rubberBand && owner) {
    if (args_.feedback)
      timerRunning_ = host_.SetFeedbackTimer(CAxTracker::kFeedbackTimerId, tracker_.feedbackDelay);
    owner->GetRect(&startRect_);
    lastRect_ = startRect_;
    auto down = [this](uint32_t vk) { return vk != 0 && host_.IsKeyDown(vk); };
    if (down(tracker_.keyShrink)) {
      dx_ = -static_cast<int32_t>(args_.shrinkX);
      dy_ = -static_cast<int32_t>(args_.shrinkY);
      shrinkHeld_ = true;
    }
    if (dx_ != 0 && down(tracker_.keyExtendX)) {
      lastRect_ = Inflated(lastRect_, dx_, 0);
      extX_ = true;
    }
    if (dy_ != 0 && down(tracker_.keyExtendY)) {
      lastRect_ = Inflated(lastRect_, 0, dy_);
      extY_ = true;
    }
    newRect_ = lastRect_;
  }

  // 6. Direction history: the start rectangle's top-left corner, four times.
  history_.fill(Point{startRect_.left, startRect_.top});
  xDir_ = yDir_ = true;
  running_ = true;
  return true;
}

bool TrackLoop::Feed(const TrackEvent& event) {
  if (!running_) return false;
  using Kind = TrackEvent::Kind;

  // A quit request or a broken message loop ends the drag without commit;
  // the quit request is handed back once everything is released.
  if (event.kind == Kind::kQuit || event.kind == Kind::kFailed) {
    if (event.kind == Kind::kQuit) {
      quitPending_ = true;
      quitCode_ = event.quitCode;
    }
    Finish(false);
    return false;
  }
  if (event.kind == Kind::kCaptureLost || !host_.HasCapture()) {
    Finish(false);
    return false;
  }

  switch (event.kind) {
    case Kind::kMouseMove:
      MoveStep(event.pos);
      break;
    case Kind::kKeyDown:
      if (event.key == tracker_.keyExtendX && event.key != 0) {
        WidenDown();
      } else if (event.key == tracker_.keyExtendY && event.key != 0) {
        HeightenDown();
      } else if (event.key == tracker_.keyShrink && event.key != 0) {
        ShrinkDown();
      } else if (event.key == kVkEscape) {
        Finish(true);
        return false;
      }
      break;
    case Kind::kKeyUp:
      if (event.key == tracker_.keyExtendX && event.key != 0)
        WidenUp();
      else if (event.key == tracker_.keyExtendY && event.key != 0)
        HeightenUp();
      else if (event.key == tracker_.keyShrink && event.key != 0)
        ShrinkUp();
      break;
    case Kind::kTimer:
      if (event.timerId == CAxTracker::kFeedbackTimerId && event.forTrackWindow) {
        if (!frameShown_) {
          DrawTrackFrame(newRect_);
          tracker_.SetDragCursor(host_, hit_);
          frameShown_ = true;
        }
        host_.KillFeedbackTimer(CAxTracker::kFeedbackTimerId);
        timerRunning_ = false;
      } else {
        OtherMessage(event);
      }
      break;
    case Kind::kMouseWheel:
      OtherMessage(event);
      break;
    case Kind::kLeftUp:
    case Kind::kRightDown:
      Finish(true);
      return false;
    default:
      host_.Dispatch(event);
      break;
  }
  return running_;
}

void TrackLoop::OtherMessage(const TrackEvent& event) {
  // Whatever the message paints must not meet our not-xor feedback.
  if (frameShown_) DrawTrackFrame(lastRect_);
  if (linesShown_) {
    if (dc_) shownLines_.Draw(*dc_);
    linesShown_ = false;
  }
  host_.Dispatch(event);
  if (frameShown_) DrawTrackFrame(lastRect_);
}

void TrackLoop::MoveStep(Point p) {
  const int32_t x = p.x;
  const int32_t y = p.y;
  // 1. The proposed rectangle. Edges may cross; the owner clips and orders.
  switch (hit_) {
    case CAxTracker::hitInside:
    case CAxTracker::hitBorder:
      newRect_ = Offset(startRect_, x - args_.point.x, y - args_.point.y);
      if (extX_) newRect_ = Inflated(newRect_, dx_, 0);
      if (extY_) newRect_ = Inflated(newRect_, 0, dy_);
      break;
    case CAxTracker::hitTop:
      newRect_.top = y;
      break;
    case CAxTracker::hitBottom:
      newRect_.bottom = y;
      break;
    case CAxTracker::hitLeft:
      newRect_.left = x;
      break;
    case CAxTracker::hitRight:
      newRect_.right = x;
      break;
    case CAxTracker::hitTopLeft:
      newRect_.left = x;
      newRect_.top = y;
      break;
    case CAxTracker::hitTopRight:
      newRect_.right = x;
      newRect_.top = y;
      break;
    case CAxTracker::hitBottomLeft:
      newRect_.left = x;
      newRect_.bottom = y;
      break;
    case CAxTracker::hitBottomRight:
      newRect_.right = x;
      newRect_.bottom = y;
      break;
    default:
      break;
  }

  // 2. Direction: five strictly monotonic samples decide; anything else keeps it.
  // dir is 0 after a strictly rising run, 1 after a strictly falling one.
  auto follow = [this](int32_t Point::*axis, int32_t now, bool& dir) {
    const auto& hs = history_;
    bool rising = true;
    bool falling = true;
    for (size_t i = 0; i < hs.size(); ++i) {
      int32_t next = i + 1 < hs.size() ? hs[i + 1].*axis : now;
      rising = rising && hs[i].*axis < next;
      falling = falling && hs[i].*axis > next;
    }
    if (rising) dir = false;
    if (falling) dir = true;
  };
  follow(&Point::x, x, xDir_);
  follow(&Point::y, y, yDir_);
  std::rotate(history_.begin(), history_.begin() + 1, history_.end());
  history_[3] = p;

  // 3.-4. The owner sees (and may correct) the proposal and adds guide lines.
  CAxTracker::CLineColl newLines;
  newLines.lines.reserve(8);
  if (IAxTrackerEvents* owner = tracker_.owner)
    owner->OnTracking(&newRect_, hit_, &lastRect_, xDir_, yDir_, extX_ ? dx_ : 0, extY_ ? dy_ : 0, &newLines);

  // 5. Only a change reaches the screen.
  if (!(newRect_ == lastRect_)) {
    if (frameShown_)
      DrawTrackFrame(lastRect_);
    else if (IsMoveHit(hit_))
      host_.SetCursor(CAxTracker::kMoveDragCursor);
    if (linesShown_ && dc_) shownLines_.Draw(*dc_);
    if (args_.feedback) {
      if (dc_) newLines.Draw(*dc_);
      DrawTrackFrame(newRect_);
      linesShown_ = frameShown_ = true;
    }
    lastRect_ = newRect_;
    shownLines_.Swap(newLines);
  }
  // 6. newLines goes, with the lines of an unchanged rectangle.
}

void TrackLoop::WidenDown() {
  if (extX_ || args_.rubberBand || dx_ == 0) return;
  const bool hadExtY = extY_;
  newRect_ = Inflated(newRect_, dx_, 0);
  extX_ = true;
  if (args_.feedback) {
    if (frameShown_) {
      if (hadExtY) DrawExtensionFrame(lastRect_);
      DrawExtensionFrame(newRect_);
    } else {
      DrawTrackFrame(newRect_);
      frameShown_ = true;
    }
    if (linesShown_ && dc_) shownLines_.Offset(*dc_, dx_, 0);
  }
  lastRect_ = Inflated(lastRect_, dx_, 0);
}

void TrackLoop::HeightenDown() {
  if (extY_ || args_.rubberBand || dy_ == 0) return;
  const bool hadExtX = extX_;
  newRect_ = Inflated(newRect_, 0, dy_);
  extY_ = true;
  if (args_.feedback) {
    if (frameShown_) {
      if (hadExtX) DrawExtensionFrame(lastRect_);
      DrawExtensionFrame(newRect_);
    } else {
      DrawTrackFrame(newRect_);
      frameShown_ = true;
    }
    if (linesShown_ && dc_) shownLines_.Offset(*dc_, 0, dy_);
  }
  lastRect_ = Inflated(lastRect_, 0, dy_);
}

void TrackLoop::ShrinkDown() {
  if (shrinkHeld_ || args_.rubberBand) return;
  shrinkHeld_ = true;
  if (extX_ || extY_) {
    const int32_t ax = extX_ ? -(args_.shrinkX + args_.growX) : 0;
    const int32_t ay = extY_ ? -(args_.shrinkY + args_.growY) : 0;
    newRect_ = Inflated(newRect_, ax, ay);
    if (frameShown_) {
      DrawExtensionFrame(lastRect_);
      DrawExtensionFrame(newRect_);
    }
    if (linesShown_ && dc_) shownLines_.Offset(*dc_, ax, ay);
    lastRect_ = Inflated(lastRect_, ax, ay);
  }
  dx_ = -static_cast<int32_t>(args_.shrinkX);
  dy_ = -static_cast<int32_t>(args_.shrinkY);
}

void TrackLoop::WidenUp() {
  if (!extX_) return;
  if (frameShown_) DrawExtensionFrame(lastRect_);
  lastRect_ = Inflated(lastRect_, -dx_, 0);
  newRect_ = Inflated(newRect_, -dx_, 0);
  extX_ = false;
  if (linesShown_ && dc_) shownLines_.Offset(*dc_, -dx_, 0);
  if (extY_ && frameShown_) DrawExtensionFrame(lastRect_);
}

void TrackLoop::HeightenUp() {
  if (!extY_) return;
  if (frameShown_) DrawExtensionFrame(lastRect_);
  lastRect_ = Inflated(lastRect_, 0, -dy_);
  newRect_ = Inflated(newRect_, 0, -dy_);
  extY_ = false;
  if (linesShown_ && dc_) shownLines_.Offset(*dc_, 0, -dy_);
  if (extX_ && frameShown_) DrawExtensionFrame(lastRect_);
}

void TrackLoop::ShrinkUp() {
  if (!shrinkHeld_) return;
  shrinkHeld_ = false;
  if (extX_ || extY_) {
    const int32_t ax = extX_ ? args_.shrinkX + args_.growX : 0;
    const int32_t ay = extY_ ? args_.shrinkY + args_.growY : 0;
    newRect_ = Inflated(newRect_, ax, ay);
    if (frameShown_) {
      DrawExtensionFrame(lastRect_);
      DrawExtensionFrame(newRect_);
    }
    if (linesShown_ && dc_) shownLines_.Offset(*dc_, ax, ay);
    lastRect_ = Inflated(lastRect_, ax, ay);
  }
  dx_ = args_.growX;
  dy_ = args_.growY;
}

void TrackLoop::Finish(bool committed) {
  if (!running_) return;
  running_ = false;
  // 1.-3. Stop the timer, take the feedback off the screen.
  if (timerRunning_) {
    host_.KillFeedbackTimer(CAxTracker::kFeedbackTimerId);
    timerRunning_ = false;
  }
  if (frameShown_) {
    DrawTrackFrame(lastRect_);
    frameShown_ = false;
  }
  if (linesShown_) {
    if (dc_) shownLines_.Draw(*dc_);
    linesShown_ = false;
  }
  // 4. The owner never gets the extension.
  if (extX_) newRect_ = Inflated(newRect_, -dx_, 0);
  if (extY_) newRect_ = Inflated(newRect_, 0, -dy_);
  // 5. Give back what was taken.
  if (dc_) {
    dc_->SetRasterMode(oldMode_);
    host_.ReleaseCanvas(dc_);
    dc_ = nullptr;
  }
  host_.ReleaseCapture();
  // 6. Report.
  IAxTrackerEvents* owner = tracker_.owner;
  if (committed && owner) {
    owner->OnTrackEnd(&newRect_);
    result_ = true;
  } else {
    result_ = false;
  }
  shownLines_.Clear();
  if (quitPending_) {
    quitPending_ = false;
    host_.RepostQuit(quitCode_);
  }
}

void TrackLoop::DrawTrackFrame(const Rect& r) {
  Rect inner = r;
  if (extX_ || extY_) {
    DrawExtensionFrame(r);
    if (extX_) inner = Inflated(inner, -dx_, 0);
    if (extY_) inner = Inflated(inner, 0, -dy_);
  }
  if (IAxTrackerEvents* owner = tracker_.owner) owner->OnDrawTracking(dc_, &inner);
  DrawDottedFrame(inner);
}

void TrackLoop::DrawDottedFrame(const Rect& r) {
  if (!dc_) return;
  const Color c = CAxTracker::kFeedbackFrameColor;
  const int32_t x0 = std::min(r.left, r.right), x1 = std::max(r.left, r.right);
  const int32_t y0 = std::min(r.top, r.bottom), y1 = std::max(r.top, r.bottom);
  for (int32_t x = x0; x < x1; x += 2) {
    dc_->SetPixel(Point{x, r.top}, c);
    dc_->SetPixel(Point{x, r.bottom - 1}, c);
  }
  for (int32_t y = y0 + 2; y < y1 - 1; y += 2) {
    dc_->SetPixel(Point{r.left, y}, c);
    dc_->SetPixel(Point{r.right - 1, y}, c);
  }
}

void TrackLoop::DrawExtensionFrame(const Rect& r) {
  if (!dc_) return;
  const Color c = CAxTracker::kExtensionFrameColor;
  const int32_t x0 = std::min(r.left, r.right), x1 = std::max(r.left, r.right);
  const int32_t y0 = std::min(r.top, r.bottom), y1 = std::max(r.top, r.bottom);
  // Dashes of three pixels on, one off, counted from the far end.
  for (int32_t x = x0; x < x1; ++x) {
    if ((x1 - x) % 4 == 0) continue;
    dc_->SetPixel(Point{x, r.top}, c);
    dc_->SetPixel(Point{x, r.bottom - 1}, c);
  }
  for (int32_t y = y0 + 2; y < y1 - 1; ++y) {
    if ((y1 - 1 - y) % 4 == 0) continue;
    dc_->SetPixel(Point{r.left, y}, c);
    dc_->SetPixel(Point{r.right - 1, y}, c);
  }
}

}  // namespace parlex
