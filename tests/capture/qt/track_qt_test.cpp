// Real drags on a Qt widget under X: the surface answers a left press with
// TrackQt, and a script of single-shot timers gives the input a user would
// give (through QTest, or through the X server with xdotool) or does what
// another part of the program might do meanwhile (grab the mouse, quit). The
// owner records every callback; the surface's image holds what was drawn.
#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/ax_tracker.h"
#include "capture/pixel_canvas.h"
#include "capture/qt/capture_surface_qt.h"
#include "capture/qt/track_host_qt.h"
#include "platform/qt/resource_images.h"

namespace parlex::qt {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "capture_track_qt_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

constexpr Color kGround = Rgb(128, 128, 128);

struct Tracking {
  Rect proposed;
  int32_t hit;
  int32_t extX, extY;
};

// The widget with the tracker; it is the tracker's owner.
class TrackerSurface : public CaptureSurfaceQt, public IAxTrackerEvents {
 public:
  TrackerSurface() : CaptureSurfaceQt(400, 300), tracker_(nullptr, 6, 300, 'Q', 'W', 'E') {
    InitTrackerQt(tracker_);
    tracker_.SetEvents(this);
    tracker_.style = 0x37FC;
    setMouseTracking(true);
    Repaint();
  }

  void Repaint() {
    auto canvas = MakeCanvas();
    canvas->FillRect(Rect{0, 0, 400, 300}, Brush::Solid(kGround));
    tracker_.Draw(*canvas);
    update();
  }

  // IAxTrackerEvents
  void GetRect(Rect* out) override { *out = selection_; }
  void OnTracking(Rect* proposed, int32_t hit, const Rect*, bool, bool, int32_t extX, int32_t extY,
                  CAxTracker::ITrackLines*) override {
    tracking_.push_back(Tracking{*proposed, hit, extX, extY});
    if (repaint_) {
      selection_ = *proposed;
      Repaint();
    }
  }
  void OnTrackEnd(const Rect* final) override {
    ends_.push_back(*final);
    if (repaint_) {
      selection_ = *final;
      Repaint();
    }
  }
  void OnDrawTracking(Canvas*, const Rect* rect) override { drawTracking_.push_back(*rect); }

  CAxTracker tracker_;
  Rect selection_{100, 100, 200, 160};
  bool repaint_ = true;
  bool feedback_ = false;
  std::vector<Tracking> tracking_;
  std::vector<Rect> ends_;
  std::vector<Rect> drawTracking_;
  int tracks_ = 0;
  bool tracking_now_ = false;
  bool lastResult_ = false;
  std::function<void()> onAppEvent_;  // run for a posted QEvent::User
  int wheels_ = 0;

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    ++tracks_;
    tracking_now_ = true;
    lastResult_ = TrackQt(tracker_, this, e->position().toPoint(), false, 8, 8, 5, 5, feedback_);
    tracking_now_ = false;
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (e->buttons() == Qt::NoButton) TrackerSetCursorQt(tracker_, this, e->position().toPoint());
  }
  void wheelEvent(QWheelEvent*) override { ++wheels_; }
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User && onAppEvent_) {
      onAppEvent_();
      return true;
    }
    return CaptureSurfaceQt::event(e);
  }
};

// Each step runs from its own single-shot timer, scheduled before the step
// runs: a step that starts a drag blocks in the nested loop, and the next
// timer must still fire inside it.
class Script {
 public:
  explicit Script(std::vector<std::function<void()>> steps, int interval = 20)
      : steps_(std::move(steps)), interval_(interval) {}
  void Start() { Schedule(); }
  bool Done() const { return ran_ >= steps_.size(); }

 private:
  void Schedule() {
    if (next_ >= steps_.size()) return;
    const size_t i = next_++;
    QTimer::singleShot(interval_, &context_, [this, i] {
      Schedule();
      steps_[i]();
      ++ran_;
    });
  }
  QObject context_;  // steps not yet run go with the script
  std::vector<std::function<void()>> steps_;
  int interval_;
  size_t next_ = 0;
  size_t ran_ = 0;
};

// Runs the script inside an event loop until it is done and no drag runs, or
// 10 seconds pass.
void RunScript(Script& script, TrackerSurface& surface) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (script.Done() && !surface.tracking_now_) loop.exit(0);
  });
  poll.start(10);
  QTimer::singleShot(10000, &loop, [&] { loop.exit(1); });
  script.Start();
  EXPECT_EQ(loop.exec(), 0) << "the script did not finish in time";
  QCoreApplication::processEvents();
}

class TrackQtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    KeyStateQt::Instance().Clear();
    surface_ = std::make_unique<TrackerSurface>();
    surface_->move(0, 0);
    surface_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(surface_.get()));
    ASSERT_EQ(surface_->tracker_.rect, (Rect{98, 98, 202, 162}));
  }
  void TearDown() override {
    if (QWidget* g = QWidget::mouseGrabber()) g->releaseMouse();
    surface_.reset();
  }

  std::function<void()> Press(int x, int y) {
    return [this, x, y] { QTest::mousePress(surface_.get(), Qt::LeftButton, {}, QPoint(x, y)); };
  }
  std::function<void()> Move(int x, int y) {
    return [this, x, y] { QTest::mouseMove(surface_.get(), QPoint(x, y)); };
  }
  std::function<void()> Release(int x, int y) {
    return [this, x, y] { QTest::mouseRelease(surface_.get(), Qt::LeftButton, {}, QPoint(x, y)); };
  }
  std::function<void()> KeyDown(Qt::Key key) {
    return [this, key] { QTest::keyPress(surface_.get(), key); };
  }

  std::unique_ptr<TrackerSurface> surface_;
};

TEST_F(TrackQtTest, DraggingTheBottomRightHandleResizesAndCommits) {
  Script script({Press(199, 159), Move(210, 165), Move(230, 180), Release(230, 180)});
  RunScript(script, *surface_);
  EXPECT_EQ(surface_->tracks_, 1);
  EXPECT_TRUE(surface_->lastResult_);
  ASSERT_EQ(surface_->tracking_.size(), 2u);
  EXPECT_EQ(surface_->tracking_[0].proposed, (Rect{100, 100, 210, 165}));
  EXPECT_EQ(surface_->tracking_[1].proposed, (Rect{100, 100, 230, 180}));
  for (const Tracking& t : surface_->tracking_) EXPECT_EQ(t.hit, CAxTracker::hitBottomRight);
  ASSERT_EQ(surface_->ends_.size(), 1u);
  EXPECT_EQ(surface_->ends_[0], (Rect{100, 100, 230, 180}));
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  // The owner repainted: the tracker surrounds the new selection, and the
  // image shows its bottom-right handle there.
  EXPECT_EQ(surface_->tracker_.rect, (Rect{98, 98, 232, 182}));
  const QImage& image = surface_->Image();
  EXPECT_EQ(image.pixel(229, 179) & 0xFFFFFF, CAxTracker::SystemColors{}.activeCaption);
  EXPECT_EQ(image.pixel(150, 130) & 0xFFFFFF, kGround);
  if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR"))
    image.save(QString::fromUtf8(dir) + "/tracker_qt_after_drag.png");
}

TEST_F(TrackQtTest, EscCommitsAndLaterInputGoesToTheWidget) {
  Script script(
      {Press(150, 130), Move(160, 140), KeyDown(Qt::Key_Escape), Move(190, 190), Release(190, 190)});
  RunScript(script, *surface_);
  EXPECT_TRUE(surface_->lastResult_);
  ASSERT_EQ(surface_->tracking_.size(), 1u);
  EXPECT_EQ(surface_->tracking_[0].proposed, (Rect{110, 110, 210, 170}));
  EXPECT_EQ(surface_->tracking_[0].hit, CAxTracker::hitInside);
  ASSERT_EQ(surface_->ends_.size(), 1u);
  EXPECT_EQ(surface_->ends_[0], (Rect{110, 110, 210, 170}));
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(TrackQtTest, WidenKeyExtendsTheMoveButNotTheResult) {
  Script script({Press(150, 130), KeyDown(Qt::Key_Q), Move(160, 130), Release(160, 130)});
  RunScript(script, *surface_);
  EXPECT_TRUE(surface_->lastResult_);
  ASSERT_EQ(surface_->tracking_.size(), 1u);
  EXPECT_EQ(surface_->tracking_[0].proposed, (Rect{102, 100, 218, 160}));
  EXPECT_EQ(surface_->tracking_[0].extX, 8);
  ASSERT_EQ(surface_->ends_.size(), 1u);
  EXPECT_EQ(surface_->ends_[0], (Rect{110, 100, 210, 160}));
}

TEST_F(TrackQtTest, WidenKeyHeldBeforeThePressCounts) {
  // The key goes down while no drag runs: the key state follows it.
  Script script({KeyDown(Qt::Key_Q), Press(150, 130), Move(160, 130), Release(160, 130)});
  RunScript(script, *surface_);
  ASSERT_EQ(surface_->tracking_.size(), 1u);
  EXPECT_EQ(surface_->tracking_[0].proposed, (Rect{102, 100, 218, 160}));
  EXPECT_EQ(surface_->tracking_[0].extX, 8);
  ASSERT_EQ(surface_->ends_.size(), 1u);
  EXPECT_EQ(surface_->ends_[0], (Rect{110, 100, 210, 160}));
}

TEST_F(TrackQtTest, LosingTheMouseGrabEndsWithoutTrackEnd) {
  QWidget thief;
  Script script({Press(150, 130), Move(160, 140),
                 [&] {
                   thief.setGeometry(500, 0, 40, 40);
                   thief.show();
                   thief.grabMouse();
                 },
                 Move(180, 150), Release(180, 150)});
  RunScript(script, *surface_);
  EXPECT_EQ(surface_->tracks_, 1);
  EXPECT_FALSE(surface_->lastResult_);
  EXPECT_TRUE(surface_->ends_.empty());
  ASSERT_EQ(surface_->tracking_.size(), 1u);
  EXPECT_EQ(surface_->selection_, (Rect{110, 110, 210, 170}));
  thief.releaseMouse();
}

TEST_F(TrackQtTest, QuitDuringADragEndsItAndTheProgramStillEnds) {
  // The drag runs inside the application's own loop, as in the program.
  Script script({Press(150, 130), Move(160, 140), [] { QCoreApplication::exit(77); }, Move(170, 170)});
  QTimer bound;
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  bound.start(5000);
  script.Start();
  EXPECT_EQ(QApplication::exec(), 77);
  EXPECT_EQ(surface_->tracks_, 1);
  EXPECT_FALSE(surface_->lastResult_);
  EXPECT_TRUE(surface_->ends_.empty());
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  ASSERT_FALSE(surface_->tracking_.empty());
  EXPECT_EQ(surface_->tracking_.back().proposed, (Rect{110, 110, 210, 170}));
  // The drag handed the request back: it ends the next run of the loop too.
  bound.start(2000);
  EXPECT_EQ(QApplication::exec(), 77);
}

TEST_F(TrackQtTest, QuitRequestDuringADragIsPostedAgain) {
  // quit() asks through a Quit event; the drag takes it, ends, and posts it
  // again, so the application's loop still ends with it.
  int quitsSeen = 0;
  bool dragEndedFirst = false;
  struct Watch : QObject {
    std::function<void()> onQuit;
    bool eventFilter(QObject* o, QEvent* e) override {
      if (e->type() == QEvent::Quit && o == QCoreApplication::instance()) onQuit();
      return false;
    }
  } watch;
  watch.onQuit = [&] {
    ++quitsSeen;
    dragEndedFirst = !surface_->tracking_now_;
  };
  QCoreApplication::instance()->installEventFilter(&watch);
  Script script({Press(150, 130), Move(160, 140), [] { QCoreApplication::quit(); }, Move(170, 170)});
  QTimer bound;
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  bound.start(5000);
  script.Start();
  const int code = QApplication::exec();
  QCoreApplication::instance()->removeEventFilter(&watch);
  EXPECT_NE(code, 99) << "the application did not quit";
  EXPECT_FALSE(surface_->lastResult_);
  EXPECT_TRUE(surface_->ends_.empty());
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  // Seen once, and only after the drag had ended (the drag's own filter,
  // installed later, sees it first and keeps it from this one).
  EXPECT_EQ(quitsSeen, 1);
  EXPECT_TRUE(dragEndedFirst);
}

TEST_F(TrackQtTest, QuitArrivingWithTheReleaseIsNotLost) {
  // The release that ends the drag and a quit request come in one batch:
  // the drag ends on the release, and the quit still ends the application.
  Script script({Press(150, 130), Move(160, 140), [this] {
                   QTest::mouseRelease(surface_.get(), Qt::LeftButton, {}, QPoint(160, 140));
                   QCoreApplication::quit();
                 }});
  QTimer bound;
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  bound.start(5000);
  script.Start();
  EXPECT_NE(QApplication::exec(), 99) << "the quit was lost";
  EXPECT_TRUE(surface_->lastResult_);
  ASSERT_EQ(surface_->ends_.size(), 1u);
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(TrackQtTest, PressWithoutCursorOrWithTheMouseGrabbedDoesNotTrack) {
  Script script({Press(120, 99), Move(130, 110), Release(130, 110)});
  RunScript(script, *surface_);
  EXPECT_EQ(surface_->tracks_, 1);
  EXPECT_FALSE(surface_->lastResult_);
  EXPECT_TRUE(surface_->tracking_.empty());

  QWidget other;
  other.setGeometry(500, 0, 40, 40);
  other.show();
  other.grabMouse();
  Script held({Press(150, 130), Move(160, 140), Release(160, 140)});
  RunScript(held, *surface_);
  EXPECT_EQ(surface_->tracks_, 2);
  EXPECT_FALSE(surface_->lastResult_);
  EXPECT_TRUE(surface_->tracking_.empty());
  EXPECT_EQ(QWidget::mouseGrabber(), &other);  // not taken away by the refused press
  other.releaseMouse();
}

bool SameCursor(const QCursor& a, const QCursor& b) {
  return a.shape() == b.shape() && a.hotSpot() == b.hotSpot() && a.pixmap().toImage() == b.pixmap().toImage();
}

TEST_F(TrackQtTest, CursorOverEachHandleIsTheTrackerCursor) {
  struct Case {
    QPoint at;
    int resource;  // 0: the widget's default cursor
  } cases[] = {{{99, 99}, 207},   {{200, 160}, 207}, {{200, 99}, 208}, {{99, 160}, 208},
               {{150, 99}, 209},  {{150, 160}, 209}, {{99, 130}, 210}, {{200, 130}, 210},
               {{150, 130}, 211}, {{120, 99}, 0},    {{300, 250}, 0}};
  for (const Case& c : cases) {
    QMouseEvent move(QEvent::MouseMove, QPointF(c.at), surface_->mapToGlobal(QPointF(c.at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(surface_.get(), &move);
    if (c.resource) {
      EXPECT_TRUE(SameCursor(surface_->cursor(), TrackerCursor(c.resource))) << c.at.x() << "," << c.at.y();
    } else {
      // A top-level widget without a cursor of its own shows the arrow.
      EXPECT_EQ(surface_->cursor().shape(), Qt::ArrowCursor) << c.at.x() << "," << c.at.y();
    }
  }
  // The cursors differ from one another (the comparison can fail).
  EXPECT_FALSE(SameCursor(TrackerCursor(207), TrackerCursor(208)));
}

TEST_F(TrackQtTest, MoveDragShowsCursor212) {
  Script script({Press(150, 130), Move(160, 140),
                 [this] { EXPECT_TRUE(SameCursor(surface_->cursor(), TrackerCursor(212))); },
                 Release(160, 140)});
  RunScript(script, *surface_);
  EXPECT_TRUE(surface_->lastResult_);
}

TEST_F(TrackQtTest, FeedbackIsDrawnIntoTheImageAndRemovedWithoutTrace) {
  surface_->repaint_ = false;
  surface_->feedback_ = true;
  const QImage before = surface_->Image().copy();
  QImage during;
  surface_->onAppEvent_ = [&] { during = surface_->Image().copy(); };
  Script script({Press(150, 130), Move(160, 140), KeyDown(Qt::Key_Q), Move(170, 150),
                 [this] { QCoreApplication::postEvent(surface_.get(), new QEvent(QEvent::User)); },
                 Release(170, 150)});
  RunScript(script, *surface_);
  EXPECT_TRUE(surface_->lastResult_);
  ASSERT_EQ(surface_->ends_.size(), 1u);
  EXPECT_EQ(surface_->ends_[0], (Rect{120, 120, 220, 180}));
  ASSERT_FALSE(surface_->drawTracking_.empty());
  EXPECT_EQ(surface_->drawTracking_.back(), (Rect{120, 120, 220, 180}));
  ASSERT_FALSE(during.isNull());
  if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR"))
    during.save(QString::fromUtf8(dir) + "/tracker_qt_feedback.png");
  // Not-xor on grey: the black dotted frame of the inner rectangle, and the
  // blue extension frame (3 on, 1 off) 8 pixels further out and along the
  // same top row.
  const Color dot = ~(CAxTracker::kFeedbackFrameColor ^ kGround) & 0xFFFFFF;
  const Color dash = ~(CAxTracker::kExtensionFrameColor ^ kGround) & 0xFFFFFF;
  EXPECT_EQ(during.pixel(120, 120) & 0xFFFFFF, dot);
  EXPECT_EQ(during.pixel(122, 120) & 0xFFFFFF, dot ^ dash ^ kGround);  // both frames there
  EXPECT_EQ(during.pixel(113, 120) & 0xFFFFFF, dash);
  EXPECT_EQ(during.pixel(112, 120) & 0xFFFFFF, kGround);  // the dash's gap
  EXPECT_EQ(during.pixel(150, 150) & 0xFFFFFF, kGround);
  EXPECT_EQ(surface_->Image(), before) << "the feedback left pixels behind";
}

// Real X input: xdotool moves the pointer and presses the button on the X
// server, so the events come through the window system and the X pointer
// grab, as a user's would.
bool HaveXdotool() { return std::system("command -v xdotool >/dev/null 2>&1") == 0; }

std::function<void()> Xdo(const std::string& args) {
  return [args] {
    const std::string cmd = "xdotool " + args;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  };
}

TEST_F(TrackQtTest, RealPointerDragThroughTheXServer) {
  if (!HaveXdotool()) GTEST_SKIP() << "xdotool is not installed";
  const QPoint origin = surface_->mapToGlobal(QPoint(0, 0));
  auto at = [&](int x, int y) {
    return "mousemove --sync " + std::to_string(origin.x() + x) + " " + std::to_string(origin.y() + y);
  };
  Script script({Xdo(at(60, 60)), Xdo(at(199, 159)), Xdo("mousedown 1"), Xdo(at(215, 170)), Xdo(at(240, 190)),
                 Xdo("mouseup 1"), Xdo(at(150, 130))},
                60);
  RunScript(script, *surface_);
  EXPECT_EQ(surface_->tracks_, 1);
  EXPECT_TRUE(surface_->lastResult_);
  ASSERT_FALSE(surface_->tracking_.empty());
  EXPECT_EQ(surface_->tracking_.back().proposed, (Rect{100, 100, 240, 190}));
  ASSERT_EQ(surface_->ends_.size(), 1u);
  EXPECT_EQ(surface_->ends_[0], (Rect{100, 100, 240, 190}));
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  // After the drag the pointer rests inside: the move cursor.
  QTest::qWait(100);
  EXPECT_TRUE(SameCursor(surface_->cursor(), TrackerCursor(211)));
}

TEST_F(TrackQtTest, FeedbackTimerShowsTheFrameWithoutAMove) {
  surface_->repaint_ = false;
  surface_->feedback_ = true;
  const QImage before = surface_->Image().copy();
  QImage during;
  surface_->onAppEvent_ = [&] { during = surface_->Image().copy(); };
  auto idle = [] {};
  Script script(
      {Press(150, 130), idle, idle, idle, idle, idle, idle, idle, idle, idle, idle,
       [this] { QCoreApplication::postEvent(surface_.get(), new QEvent(QEvent::User)); }, Release(150, 130)},
      40);
  RunScript(script, *surface_);
  EXPECT_TRUE(surface_->lastResult_);
  EXPECT_TRUE(surface_->tracking_.empty());
  ASSERT_EQ(surface_->ends_.size(), 1u);
  EXPECT_EQ(surface_->ends_[0], (Rect{100, 100, 200, 160}));
  // Drawn by the timer, removed at the end. Other timers run on their own
  // here (the feedback lives in the image, which paints cannot disturb).
  ASSERT_EQ(surface_->drawTracking_.size(), 2u);
  EXPECT_EQ(surface_->drawTracking_[0], (Rect{100, 100, 200, 160}));
  ASSERT_FALSE(during.isNull());
  const Color frame = CAxTracker::SystemColors{}.activeCaption;
  const Color dotOnFrame = ~(CAxTracker::kFeedbackFrameColor ^ frame) & 0xFFFFFF;
  EXPECT_EQ(during.pixel(110, 100) & 0xFFFFFF, dotOnFrame);  // on the tracker's line frame
  EXPECT_EQ(during.pixel(111, 100) & 0xFFFFFF, frame);
  EXPECT_EQ(surface_->Image(), before) << "the feedback left pixels behind";
}

TEST_F(TrackQtTest, WheelDuringADragIsDispatchedAroundTheFeedback) {
  surface_->repaint_ = false;
  surface_->feedback_ = true;
  const QImage before = surface_->Image().copy();
  Script script({Press(150, 130), Move(160, 140),
                 [this] {
                   QWheelEvent wheel(QPointF(160, 140), surface_->mapToGlobal(QPointF(160, 140)), QPoint(),
                                     QPoint(0, 120), Qt::LeftButton, Qt::NoModifier, Qt::NoScrollPhase,
                                     false);
                   QCoreApplication::sendEvent(surface_.get(), &wheel);
                 },
                 Move(170, 150), Release(170, 150)});
  RunScript(script, *surface_);
  EXPECT_EQ(surface_->wheels_, 1);
  EXPECT_TRUE(surface_->lastResult_);
  ASSERT_EQ(surface_->ends_.size(), 1u);
  EXPECT_EQ(surface_->ends_[0], (Rect{120, 120, 220, 180}));
  // Drawn at the first move; off and on again around the wheel; off and on
  // at the second move; off at the end.
  EXPECT_EQ(surface_->drawTracking_.size(), 6u);
  EXPECT_EQ(surface_->Image(), before) << "the feedback left pixels behind";
}

TEST(ToQRegion, HoldsExactlyTheRegionsPixels) {
  Region ring(Rect{10, 10, 50, 40});
  ring.Subtract(Region(Rect{16, 16, 44, 34}));
  const QRegion q = ToQRegion(ring);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 60; ++x)
      ASSERT_EQ(q.contains(QPoint(x, y)), ring.Contains(Point{x, y})) << x << "," << y;
  EXPECT_TRUE(ToQRegion(Region()).isEmpty());
}

}  // namespace
}  // namespace parlex::qt
