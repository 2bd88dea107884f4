// AnnotationHistory: undo and redo of the annotations committed into the
// capture's snapshot. A step keeps only the pixels its annotation changed
// (runs of changed pixels, row by row) with their other value: undoing swaps
// them back into the snapshot, which leaves the values of the redo in the
// step, and redoing swaps again. So a step costs 4 bytes per changed pixel,
// whichever way it points, and the whole history stays within a byte limit:
// beyond it the oldest steps are let go and their annotations stay for good.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "capture/geometry.h"
#include "capture/pixel_canvas.h"

namespace parlex {

class AnnotationHistory {
 public:
  // Remembers the pixels of `area` (clipped to the snapshot) before an
  // annotation changes them. Only pixels inside it are looked at by Commit.
  void Begin(const PixelBuffer& snapshot, const Rect& area);
  // Records what changed inside the area since Begin as the newest step and
  // forgets every undone step; false when nothing changed (no step).
  bool Commit(const PixelBuffer& snapshot);
  // Puts the newest step's pixels back; the bounds of what changed, or none
  // when there is nothing to undo.
  std::optional<Rect> Undo(PixelBuffer& snapshot);
  // Does the last undone step again; none when there is nothing to redo.
  std::optional<Rect> Redo(PixelBuffer& snapshot);

  bool CanUndo() const { return !done_.empty(); }
  bool CanRedo() const { return !undone_.empty(); }
  // Steps were let go to stay within the limit: their annotations cannot be
  // undone any more.
  bool Trimmed() const { return trimmed_; }
  size_t Steps() const { return done_.size() + undone_.size(); }
  // What the steps hold, in bytes.
  size_t Bytes() const { return bytes_; }
  void SetLimit(size_t bytes) { limit_ = bytes; }

 private:
  struct Run {
    int32_t x;
    int32_t y;
    int32_t length;
  };
  struct Step {
    Rect bounds{};
    std::vector<Run> runs;
    std::vector<uint32_t> pixels;  // the other value of every pixel of the runs
    size_t Bytes() const { return runs.size() * sizeof(Run) + pixels.size() * sizeof(uint32_t); }
  };

  // Swaps the newest step of `from` with the snapshot's pixels and moves it
  // onto `to`: undo and redo are this one move in opposite directions.
  template <typename From, typename To>
  static std::optional<Rect> Swap(From& from, To& to, PixelBuffer& snapshot);

  std::deque<Step> done_;
  std::vector<Step> undone_;
  Rect pendingArea_{};
  std::vector<uint32_t> pending_;
  size_t bytes_ = 0;
  size_t limit_ = SIZE_MAX;
  bool trimmed_ = false;
};

}  // namespace parlex
