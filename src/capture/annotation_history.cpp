#include "capture/annotation_history.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace parlex {

void AnnotationHistory::Begin(const PixelBuffer& snapshot, const Rect& area) {
  pendingArea_ = Intersection(area, Rect{0, 0, snapshot.Width(), snapshot.Height()});
  pending_.clear();
  if (IsRectEmpty(pendingArea_)) return;
  const int32_t w = pendingArea_.right - pendingArea_.left;
  pending_.resize(static_cast<size_t>(w) * static_cast<size_t>(pendingArea_.bottom - pendingArea_.top));
  for (int32_t y = pendingArea_.top; y < pendingArea_.bottom; ++y)
    std::memcpy(pending_.data() + static_cast<size_t>(y - pendingArea_.top) * w,
                snapshot.Data() + static_cast<size_t>(y) * snapshot.Width() + pendingArea_.left,
                static_cast<size_t>(w) * sizeof(uint32_t));
}

bool AnnotationHistory::Commit(const PixelBuffer& snapshot) {
  const Rect a = pendingArea_;
  pendingArea_ = Rect{};
  if (IsRectEmpty(a) || pending_.empty()) return false;
  const int32_t w = a.right - a.left;
  Step step;
  step.bounds = Rect{a.right, a.bottom, a.left, a.top};
  for (int32_t y = a.top; y < a.bottom; ++y) {
    const uint32_t* before = pending_.data() + static_cast<size_t>(y - a.top) * w;
    const uint32_t* now = snapshot.Data() + static_cast<size_t>(y) * snapshot.Width() + a.left;
    for (int32_t x = 0; x < w;) {
      if (before[x] == now[x]) {
        ++x;
        continue;
      }
      const int32_t start = x;
      while (x < w && before[x] != now[x]) ++x;
      step.runs.push_back(Run{a.left + start, y, x - start});
      step.pixels.insert(step.pixels.end(), before + start, before + x);
      step.bounds.left = std::min(step.bounds.left, a.left + start);
      step.bounds.right = std::max(step.bounds.right, a.left + x);
      step.bounds.top = std::min(step.bounds.top, y);
      step.bounds.bottom = y + 1;
    }
  }
  pending_ = std::vector<uint32_t>();
  if (step.runs.empty()) return false;
  for (const Step& s : undone_) bytes_ -= s.Bytes();
  undone_.clear();
  bytes_ += step.Bytes();
  done_.push_back(std::move(step));
  // The newest step always stays: it is never larger than its area.
  while (bytes_ > limit_ && done_.size() > 1) {
    bytes_ -= done_.front().Bytes();
    done_.pop_front();
    trimmed_ = true;
  }
  return true;
}

template <typename From, typename To>
std::optional<Rect> AnnotationHistory::Swap(From& from, To& to, PixelBuffer& snapshot) {
  if (from.empty()) return std::nullopt;
  Step step = std::move(from.back());
  from.pop_back();
  size_t i = 0;
  for (const Run& run : step.runs) {
    uint32_t* row = snapshot.Data() + static_cast<size_t>(run.y) * snapshot.Width() + run.x;
    for (int32_t k = 0; k < run.length; ++k, ++i) std::swap(row[k], step.pixels[i]);
  }
  const Rect bounds = step.bounds;
  to.push_back(std::move(step));
  return bounds;
}

std::optional<Rect> AnnotationHistory::Undo(PixelBuffer& snapshot) { return Swap(done_, undone_, snapshot); }

std::optional<Rect> AnnotationHistory::Redo(PixelBuffer& snapshot) { return Swap(undone_, done_, snapshot); }

}  // namespace parlex
