#include "capture/qt/screen_grab_qt.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QtMath>

#include <algorithm>
#include <cstring>
#include <utility>

#include "capture/qt/snapshot_sources_qt.h"
#include "capture/qt/x11_grab_qt.h"

namespace parlex::qt {

QImage PrimaryScreenPart(const QImage& desktop, const QRect& geometry, qreal ratio) {
  const QSize size(qRound(geometry.width() * ratio), qRound(geometry.height() * ratio));
  if (desktop.isNull() || size.isEmpty()) return {};
  if (desktop.size() == size) return desktop;
  const QRect part(QPoint(qRound(geometry.x() * ratio), qRound(geometry.y() * ratio)), size);
  return desktop.rect().contains(part) ? desktop.copy(part) : QImage();
}

QRect DeviceRect(const QRect& logical, qreal ratio) {
  return QRect(logical.topLeft(), QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio)));
}

namespace {

using ScreenPlaces = std::vector<std::pair<QScreen*, QRect>>;

// Every screen, in Qt's order, with where its device pixels lie on the
// desktop: on X as RandR has its monitor (the one of its name, else the only
// one at its top-left corner, which Qt keeps in device pixels), else from
// Qt's geometry.
ScreenPlaces PlaceScreens(QScreen* primary) {
  const std::vector<MonitorX11> monitors = MonitorsX11();
  ScreenPlaces places;
  for (QScreen* screen : primary->virtualSiblings()) {
    const QPoint corner = screen->geometry().topLeft();
    auto at = [&](const MonitorX11& m) { return m.place.topLeft() == corner; };
    auto named = std::find_if(monitors.begin(), monitors.end(),
                              [&](const MonitorX11& m) { return at(m) && m.name == screen->name(); });
    if (named == monitors.end() && std::count_if(monitors.begin(), monitors.end(), at) == 1)
      named = std::find_if(monitors.begin(), monitors.end(), at);
    places.emplace_back(screen, named != monitors.end()
                                    ? named->place
                                    : DeviceRect(screen->geometry(), screen->devicePixelRatio()));
  }
  return places;
}

// A Wayland compositor answers a program's own grab with nothing or with
// black, and so does Xwayland's root window: there the picture comes from
// the desktop's own sources.
bool OnWayland() {
  return InWaylandSessionQt() ||
         QGuiApplication::platformName().startsWith(QLatin1String("wayland"), Qt::CaseInsensitive);
}

// Copies an RGB32 picture of exactly width x height into the snapshot.
bool FillPixels(ScreenSnapshotQt& shot, const QImage& picture, int width, int height) {
  const QImage image = picture.convertToFormat(QImage::Format_RGB32);
  if (image.isNull() || image.width() != width || image.height() != height) return false;
  shot.pixels = PixelBuffer::Blank(width, height);
  for (int y = 0; y < height; ++y)
    std::memcpy(shot.pixels.Data() + static_cast<size_t>(y) * width, image.constScanLine(y),
                static_cast<size_t>(width) * 4);
  return true;
}

MonitorArea AreaOf(const QRect& place, const QRect& work) {
  return MonitorArea{Rect{place.left(), place.top(), place.right() + 1, place.bottom() + 1},
                     Rect{work.left(), work.top(), work.right() + 1, work.bottom() + 1}};
}

// Wayland: the one screen the agent works on, cut out of the picture of the
// whole desktop, whose origin is the desktop's top-left corner.
std::optional<ScreenSnapshotQt> GrabWorkScreenQt(QScreen* workScreen) {
  QScreen* screen = workScreen ? workScreen : QGuiApplication::screenAt(QCursor::pos());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return std::nullopt;
  ScreenSnapshotQt shot;
  shot.screen = screen;
  shot.geometry = screen->geometry();
  shot.ratio = screen->devicePixelRatio();
  const QRect place = DeviceRect(shot.geometry, shot.ratio).translated(-shot.geometry.topLeft());
  const QRect free = screen->availableGeometry();
  const QRect work((free.topLeft() - shot.geometry.topLeft()) * shot.ratio,
                   QSize(qRound(free.width() * shot.ratio), qRound(free.height() * shot.ratio)));
  shot.monitors = {AreaOf(place, work)};
  const QRect onDesktop = shot.geometry.translated(-screen->virtualGeometry().topLeft());
  if (!FillPixels(shot, PrimaryScreenPart(DesktopSnapshotQt(), onDesktop, shot.ratio), place.width(),
                  place.height()))
    return std::nullopt;
  return shot;
}

// Every screen read from the X server into the snapshot, each at its place
// in the bounding box `desktop`; false when the server cannot be read so.
bool ReadScreensX11(ScreenSnapshotQt& shot, const QRect& desktop) {
  PixelBuffer pixels = PixelBuffer::Blank(desktop.width(), desktop.height());
  qint64 covered = 0;
  for (const MonitorArea& m : shot.monitors)
    covered += qint64{m.bounds.right - m.bounds.left} * (m.bounds.bottom - m.bounds.top);
  if (covered != qint64{desktop.width()} * desktop.height())
    std::fill_n(pixels.Data(), qint64{desktop.width()} * desktop.height(), 0u);  // between monitors: black
  for (const MonitorArea& m : shot.monitors) {
    const QRect place(m.bounds.left + desktop.left(), m.bounds.top + desktop.top(),
                      m.bounds.right - m.bounds.left, m.bounds.bottom - m.bounds.top);
    if (!GrabRootX11(place, pixels, m.bounds.left, m.bounds.top)) return false;
  }
  shot.pixels = std::move(pixels);
  return true;
}

// A window's logical geometry on `screen` for the device rectangle `place`:
// Qt maps a window's position through its screen's scale about that
// screen's top-left corner, also where the window reaches other screens.
QRect LogicalPlace(const QRect& place, const QScreen* screen) {
  const qreal ratio = screen->devicePixelRatio();
  const QPoint origin = screen->geometry().topLeft();
  const QPointF at = QPointF(place.topLeft() - origin) / ratio + QPointF(origin);
  return QRect(at.toPoint(), QSize(qCeil(place.width() / ratio), qCeil(place.height() / ratio)));
}

// The screen Qt gives a top-level window over the device rectangle `place`
// (and so the scale the window has), of the screens in Qt's order with
// their places: the one holding the window's centre; where the centre lies
// between monitors, the last one the window overlaps.
QScreen* ScreenForPlace(const QRect& place, const ScreenPlaces& screens) {
  QScreen* last = screens.front().first;
  for (const auto& [screen, area] : screens) {
    if (area.contains(place.center())) return screen;
    if (area.intersects(place)) last = screen;
  }
  return last;
}

// The picture of the whole desktop through Qt's grab, the bounding box
// `desktop` with each screen at its place; null when it cannot be had.
QImage DesktopPictureQt(const QRect& desktop, const ScreenPlaces& screens) {
  if (screens.size() == 1) return screens.front().first->grabWindow(0).toImage();  // no copy to make
  QImage picture(desktop.size(), QImage::Format_RGB32);
  picture.fill(Qt::black);  // what lies between monitors of different sizes
  QPainter painter(&picture);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  for (const auto& [screen, place] : screens) {
    QImage part = screen->grabWindow(0).toImage();
    // Qt's grab of a screen at a fractional scale may miss the last row or
    // column (its size comes from the rounded logical one).
    const QSize missing = place.size() - part.size();
    if (part.isNull() || missing.width() < 0 || missing.height() < 0 || missing.width() > 1 ||
        missing.height() > 1)
      return {};
    part.setDevicePixelRatio(1.0);
    painter.drawImage(place.topLeft() - desktop.topLeft(), part);
  }
  return picture;
}

}  // namespace

std::optional<ScreenSnapshotQt> GrabDesktopQt(QScreen* workScreen) {
  if (OnWayland()) return GrabWorkScreenQt(workScreen);
  QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary) return std::nullopt;
  ScreenSnapshotQt shot;
  QRect desktop;
  std::vector<MonitorArea> screens;
  const ScreenPlaces places = PlaceScreens(primary);
  for (const auto& [screen, place] : places) {
    const qreal ratio = screen->devicePixelRatio();
    const QRect free = screen->availableGeometry();
    const QRect work = free == screen->geometry()
                           ? place
                           : QRect(place.topLeft() + (free.topLeft() - screen->geometry().topLeft()) * ratio,
                                   QSize(qRound(free.width() * ratio), qRound(free.height() * ratio))) &
                                 place;
    screens.push_back(AreaOf(place, work));
    desktop |= place;
  }
  shot.single = screens.size() == 1;
  // The window: full-screen on the one screen, else over the bounding box
  // of them all, at the scale of the screen Qt will give it. The window
  // shows the picture one to one in device pixels wherever it lies, also on
  // screens of another scale.
  shot.screen = ScreenForPlace(desktop, places);
  shot.ratio = shot.screen->devicePixelRatio();
  shot.geometry = shot.single ? shot.screen->geometry() : LogicalPlace(desktop, shot.screen);
  for (MonitorArea& m : screens) {
    m.bounds = Offset(m.bounds, -desktop.left(), -desktop.top());
    m.work = Offset(m.work, -desktop.left(), -desktop.top());
  }
  shot.monitors = std::move(screens);
  if (!ReadScreensX11(shot, desktop) &&
      !FillPixels(shot, DesktopPictureQt(desktop, places), desktop.width(), desktop.height()))
    return std::nullopt;
  return shot;
}

void TellGrabFailedQt(QWidget* parent) {
  QMessageBox box(QMessageBox::Warning, QString::fromUtf16(kGrabFailedCaption),
                  QString::fromUtf16(kGrabFailedText), QMessageBox::Ok, parent);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
}

}  // namespace parlex::qt
