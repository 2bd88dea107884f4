// Real input for the capture's tests: xdotool moves the pointer, presses
// buttons and types on the X server, so events come through the window
// system as a user's would. A Driver runs steps from a timer, each once its
// condition holds, while the capture's modal loop (or any other) runs.
#pragma once

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace parlex::qt {

inline bool HaveXdotool() { return std::system("command -v xdotool >/dev/null 2>&1") == 0; }

inline void Xdo(const std::string& args) {
  const std::string cmd = "xdotool " + args;
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

struct Step {
  std::function<bool()> ready;
  std::function<void()> act;
};

inline bool Always() { return true; }

inline std::vector<Step> Join(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The X server's pixels are device pixels; xdotool works in them.
inline std::string At(int x, int y) {
  return "mousemove --sync " + std::to_string(x) + " " + std::to_string(y);
}
inline Step MoveTo(int x, int y) {
  return {Always, [x, y] { Xdo(At(x, y)); }};
}
// A left-button drag through a midpoint.
inline std::vector<Step> Drag(int x0, int y0, int x1, int y1) {
  return {MoveTo(x0, y0),
          {Always, [] { Xdo("mousedown 1"); }},
          MoveTo((x0 + x1) / 2, (y0 + y1) / 2),
          MoveTo(x1, y1),
          {Always, [] { Xdo("mouseup 1"); }}};
}
// A click in the middle of a button once it is shown.
inline Step ClickWhenShown(std::function<QPushButton*()> find) {
  return {[find] {
            QPushButton* b = find();
            return b && b->isVisible();
          },
          [find] {
            QPushButton* b = find();
            const QPointF centre = b->mapToGlobal(QPointF(b->rect().center()));
            const QPoint device = (centre * QGuiApplication::primaryScreen()->devicePixelRatio()).toPoint();
            Xdo(At(device.x(), device.y()) + " click 1");
          }};
}

// Runs the steps in order from a 40 ms timer, each once its condition holds;
// the program's loops (the capture, a drag, the file dialog) run the timer
// while they wait for the input the steps give. A step that waits itself
// (qWait) keeps the next one from starting inside it. After 30 seconds the
// steps stop and `onTimeout` ends whatever hangs.
class Driver {
 public:
  Driver(std::function<void()> onTimeout, std::vector<Step> steps)
      : onTimeout_(std::move(onTimeout)), steps_(std::move(steps)), start_(std::chrono::steady_clock::now()) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(40);
  }
  bool Finished() const { return next_ >= steps_.size(); }
  size_t StepsRun() const { return next_; }

 private:
  void Tick() {
    if (busy_) return;
    if (std::chrono::steady_clock::now() - start_ > std::chrono::seconds(30)) {
      timer_.stop();
      ADD_FAILURE() << "step " << next_ << " did not happen in time";
      if (onTimeout_) onTimeout_();
      return;
    }
    if (Finished() || !steps_[next_].ready()) return;
    busy_ = true;
    steps_[next_++].act();
    busy_ = false;
  }

  std::function<void()> onTimeout_;
  std::vector<Step> steps_;
  QTimer timer_;
  size_t next_ = 0;
  bool busy_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace parlex::qt
