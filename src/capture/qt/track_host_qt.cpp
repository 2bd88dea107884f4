#include "capture/qt/track_host_qt.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>
#include <QVariant>
#include <QWidget>

#include "platform/qt/resource_images.h"
#include "resource.h"

namespace parlex::qt {
namespace {

// The widget property that remembers which tracker cursor it shows, so that
// moving over the same handle does not build the cursor again.
constexpr char kCursorProperty[] = "parlexTrackerCursor";

void ShowTrackerCursor(QWidget* widget, int index) {
  if (!widget) return;
  if (widget->property(kCursorProperty).toInt() == index + 1) return;
  widget->setCursor(TrackerCursor(IDC_TRACK_NWSE + index));
  widget->setProperty(kCursorProperty, index + 1);
}

}  // namespace

void ShowDefaultCursor(QWidget* widget) {
  if (!widget || widget->property(kCursorProperty).toInt() == 0) return;
  widget->unsetCursor();
  widget->setProperty(kCursorProperty, 0);
}

uint32_t VirtualKeyFromQt(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<uint32_t>(key);  // same codes
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<uint32_t>(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return 0x70u + static_cast<uint32_t>(key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Escape:
      return 0x1B;
    case Qt::Key_Shift:
      return 0x10;
    case Qt::Key_Control:
      return 0x11;
    case Qt::Key_Alt:
      return 0x12;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 0x0D;
    case Qt::Key_Space:
      return 0x20;
    case Qt::Key_Tab:
      return 0x09;
    case Qt::Key_Backspace:
      return 0x08;
    case Qt::Key_Left:
      return 0x25;
    case Qt::Key_Up:
      return 0x26;
    case Qt::Key_Right:
      return 0x27;
    case Qt::Key_Down:
      return 0x28;
    default:
      return 0;
  }
}

// --- KeyStateQt

KeyStateQt& KeyStateQt::Instance() {
  // Lives as long as the application object: it is the filter's parent.
  static QPointer<KeyStateQt> instance;
  if (!instance) instance = new KeyStateQt();
  return *instance;
}

KeyStateQt::KeyStateQt() : QObject(QCoreApplication::instance()) {
  // Without an application object there are no key events to follow.
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

bool KeyStateQt::IsDown(uint32_t vk) const { return vk != 0 && down_.count(vk) != 0; }

void KeyStateQt::Note(uint32_t vk, bool down) {
  if (vk == 0) return;
  if (down)
    down_.insert(vk);
  else
    down_.erase(vk);
}

bool KeyStateQt::eventFilter(QObject*, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      Note(VirtualKeyFromQt(static_cast<QKeyEvent*>(event)->key()), true);
      break;
    case QEvent::KeyRelease: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (!key->isAutoRepeat()) Note(VirtualKeyFromQt(key->key()), false);
      break;
    }
    case QEvent::ApplicationDeactivate:
      // Keys released while another program had the focus never reach us.
      down_.clear();
      break;
    default:
      break;
  }
  return false;
}

// --- TrackHostQt

TrackHostQt::TrackHostQt(CaptureSurfaceQt* surface) : surface_(surface) {
  KeyStateQt::Instance();
  feedbackTimer_.setSingleShot(false);
  QObject::connect(&feedbackTimer_, &QTimer::timeout, this, [this] {
    Enqueue(Pending{TrackEvent::Timer(feedbackId_, true), nullptr, nullptr});
  });
  if (surface) {
    // A surface that goes away ends the wait: the loop then hears kFailed.
    QObject::connect(surface, &QObject::destroyed, this, [this] {
      if (loop_) loop_->exit(0);
    });
  }
}

TrackHostQt::~TrackHostQt() {
  if (filtering_) QCoreApplication::instance()->removeEventFilter(this);
}

Point TrackHostQt::CursorPos() {
  if (hasHint_) return Point{hint_.x(), hint_.y()};
  if (!surface_) return Point{};
  if (const std::optional<Point> now = surface_->PointerNow()) return *now;
  return surface_->ToImage(surface_->mapFromGlobal(QPointF(QCursor::pos())));
}

void TrackHostQt::SetCursor(int index) {
  lastCursor_ = index;
  ShowTrackerCursor(surface_, index);
}

bool TrackHostQt::IsCaptureHeld() { return QWidget::mouseGrabber() != nullptr; }

bool TrackHostQt::HasCapture() { return surface_ && QWidget::mouseGrabber() == surface_; }

void TrackHostQt::TakeCapture() {
  queue_.clear();
  captureLostQueued_ = false;
  if (surface_) surface_->grabMouse();
  if (!filtering_) {
    QCoreApplication::instance()->installEventFilter(this);
    filtering_ = true;
  }
}

void TrackHostQt::ReleaseCapture() {
  // As ReleaseCapture does, whichever widget of the program holds the mouse.
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  if (filtering_) {
    QCoreApplication::instance()->removeEventFilter(this);
    filtering_ = false;
  }
  // Input that arrived after the event that ended the drag goes on to its
  // widgets, as it stays in the queue on Windows; so does a quit request,
  // which has no widget and would otherwise be lost.
  for (Pending& p : queue_) {
    if (p.event.kind == TrackEvent::Kind::kQuit) {
      QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::Quit));
    } else if (p.receiver && p.native) {
      QCoreApplication::postEvent(p.receiver, p.native->clone());
    }
  }
  queue_.clear();
}

void TrackHostQt::Abandon() {
  if (!filtering_ || captureLostQueued_) return;
  captureLostQueued_ = true;
  Enqueue(Pending{TrackEvent::Simple(TrackEvent::Kind::kCaptureLost), nullptr, nullptr});
}

void TrackHostQt::DiscardMouseMoves() {
  if (surface_) QCoreApplication::removePostedEvents(surface_, QEvent::MouseMove);
  std::erase_if(queue_, [](const Pending& p) { return p.event.kind == TrackEvent::Kind::kMouseMove; });
}

Canvas* TrackHostQt::AcquireCanvas() {
  if (!surface_) return nullptr;
  if (!canvas_) canvas_ = surface_->MakeCanvas();
  return canvas_.get();
}

void TrackHostQt::ReleaseCanvas(Canvas* canvas) {
  if (canvas != canvas_.get()) return;
  canvas_.reset();
  if (surface_) surface_->update();  // the feedback is gone: show it gone
}

bool TrackHostQt::SetFeedbackTimer(uintptr_t id, uint32_t milliseconds) {
  feedbackId_ = id;
  feedbackTimer_.start(static_cast<int>(milliseconds));
  return true;
}

void TrackHostQt::KillFeedbackTimer(uintptr_t id) {
  if (id == feedbackId_) feedbackTimer_.stop();
}

bool TrackHostQt::IsKeyDown(uint32_t vk) { return KeyStateQt::Instance().IsDown(vk); }

void TrackHostQt::Enqueue(Pending pending) {
  queue_.push_back(std::move(pending));
  if (loop_) loop_->exit(0);
}

Point TrackHostQt::ToSurface(QObject* receiver, const QMouseEvent& event) const {
  if (!surface_) return Point{};
  // From the position in the receiver: Qt's global positions are in the
  // logical pixels of the screen under the pointer, which on screens of
  // different scales do not map back onto the window.
  auto* widget = qobject_cast<QWidget*>(receiver);
  if (widget && (widget == surface_ || surface_->isAncestorOf(widget)))
    return surface_->ToImage(widget->mapTo(surface_, event.position()));
  if (receiver == static_cast<QObject*>(surface_->window()->windowHandle()))
    return surface_->ToImage(surface_->mapFrom(surface_->window(), event.position()));
  return surface_->ToImage(surface_->mapFromGlobal(event.globalPosition()));
}

TrackEvent TrackHostQt::WaitEvent() {
  // What the loop drew while handling the last event reaches the screen.
  if (surface_ && canvas_) surface_->update();
  for (;;) {
    if (!queue_.empty()) {
      current_ = std::move(queue_.front());
      queue_.pop_front();
      TrackEvent e = current_.event;
      e.native = &current_;
      return e;
    }
    if (!surface_) return TrackEvent::Simple(TrackEvent::Kind::kFailed);
    QEventLoop loop;
    loop_ = &loop;
    const int code = loop.exec();
    loop_ = nullptr;
    // Nobody queued anything, yet the loop ended: QCoreApplication::exit
    // ended every loop of the thread, ours included.
    if (queue_.empty() && surface_) {
      quitByEvent_ = false;
      return TrackEvent::Quit(code);
    }
  }
}

void TrackHostQt::Dispatch(const TrackEvent& event) {
  const auto* pending = static_cast<const Pending*>(event.native);
  if (!pending || !pending->receiver || !pending->native) return;
  dispatching_ = true;
  QCoreApplication::sendEvent(pending->receiver, pending->native.get());
  dispatching_ = false;
}

void TrackHostQt::RepostQuit(int32_t code) {
  if (quitByEvent_) {
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::Quit));
  } else {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
  }
}

bool TrackHostQt::eventFilter(QObject* watched, QEvent* event) {
  if (dispatching_ || !filtering_) return false;
  const QEvent::Type type = event->type();
  if (type == QEvent::Quit && watched == QCoreApplication::instance()) {
    quitByEvent_ = true;
    Enqueue(Pending{TrackEvent::Quit(0), nullptr, nullptr});
    return true;
  }
  // The loop looks at the capture after every message; here, before every
  // event, which is when a grab taken by another widget shows.
  if (!captureLostQueued_ && !HasCapture()) {
    captureLostQueued_ = true;
    Enqueue(Pending{TrackEvent::Simple(TrackEvent::Kind::kCaptureLost), nullptr, nullptr});
    return false;
  }
  // Input reaches the window first and the widget after; whichever level
  // sees it first takes it, so each event is handled once.
  if (!watched->isWidgetType() && !watched->isWindowType()) return false;
  auto take = [&](TrackEvent e) {
    Enqueue(Pending{e, watched, std::shared_ptr<QEvent>(event->clone())});
    return true;
  };
  switch (type) {
    case QEvent::MouseMove: {
      const Point p = ToSurface(watched, *static_cast<QMouseEvent*>(event));
      return take(TrackEvent::MouseMove(p.x, p.y));
    }
    case QEvent::MouseButtonRelease:
      if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
      return take(TrackEvent::Simple(TrackEvent::Kind::kLeftUp));
    case QEvent::MouseButtonPress:
      if (static_cast<QMouseEvent*>(event)->button() != Qt::RightButton) return false;
      return take(TrackEvent::Simple(TrackEvent::Kind::kRightDown));
    case QEvent::Wheel:
      return take(TrackEvent::Simple(TrackEvent::Kind::kMouseWheel));
    case QEvent::ShortcutOverride:
      return true;  // keys belong to the drag: no shortcut fires meanwhile
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      const uint32_t vk = VirtualKeyFromQt(key->key());
      KeyStateQt::Instance().Note(vk, true);  // its own filter will not see this one
      return take(TrackEvent::KeyDown(vk));
    }
    case QEvent::KeyRelease: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->isAutoRepeat()) return true;  // a held key repeats only its key-down
      const uint32_t vk = VirtualKeyFromQt(key->key());
      KeyStateQt::Instance().Note(vk, false);
      return take(TrackEvent::KeyUp(vk));
    }
    default:
      return false;
  }
}

// --- Free functions

void InitTrackerQt(CAxTracker& tracker) {
  tracker.colors = CAxTracker::SystemColors{};
  KeyStateQt::Instance();
}

bool TrackerSetCursorQt(const CAxTracker& tracker, CaptureSurfaceQt* surface, QPoint pos) {
  TrackHostQt host(surface);
  if (surface) {
    const Point p = surface->ToImage(QPointF(pos));
    host.SetCursorPosHint(QPoint(p.x, p.y));
  }
  if (tracker.OnSetCursor(host, 1)) return true;
  ShowDefaultCursor(surface);
  return false;
}

bool TrackQt(CAxTracker& tracker, CaptureSurfaceQt* surface, QPoint point, bool rubberBand, uint16_t growX,
             uint16_t growY, uint16_t shrinkX, uint16_t shrinkY, bool feedback) {
  TrackHostQt host(surface);
  const Point start = surface ? surface->ToImage(QPointF(point)) : Point{point.x(), point.y()};
  return tracker.Track(host, start, rubberBand, growX, growY, shrinkX, shrinkY, feedback);
}

}  // namespace parlex::qt
