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

}  // namespace

QImage DesktopPictureQt(const QRect& desktop) {
  if (OnWayland()) return DesktopSnapshotQt();
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.size() == 1) return screens.front()->grabWindow(0).toImage();  // no copy to make
  QImage picture(desktop.size(), QImage::Format_RGB32);
  picture.fill(Qt::black);  // what lies between monitors of different sizes
  QPainter painter(&picture);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  for (QScreen* screen : screens) {
    const QRect place = DeviceRect(screen->geometry(), screen->devicePixelRatio());
    QImage part = screen->grabWindow(0).toImage();
    if (part.isNull() || part.size() != place.size()) return {};
    part.setDevicePixelRatio(1.0);
    painter.drawImage(place.topLeft() - desktop.topLeft(), part);
  }
  return picture;
}

std::optional<ScreenSnapshotQt> GrabDesktopQt(QScreen* workScreen) {
  if (OnWayland()) return GrabWorkScreenQt(workScreen);
  QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary) return std::nullopt;
  ScreenSnapshotQt shot;
  shot.screen = primary;
  shot.ratio = primary->devicePixelRatio();
  QRect desktop;
  std::vector<MonitorArea> screens;
  for (QScreen* screen : QGuiApplication::screens()) {
    const qreal ratio = screen->devicePixelRatio();
    const QRect place = DeviceRect(screen->geometry(), ratio);
    const QRect free = screen->availableGeometry();
    const QRect work(place.topLeft() + (free.topLeft() - screen->geometry().topLeft()) * ratio,
                     QSize(qRound(free.width() * ratio), qRound(free.height() * ratio)));
    screens.push_back(AreaOf(place, work));
    desktop |= place;
  }
  shot.single = screens.size() == 1;
  // The window: full-screen on the one screen, else over the bounding box
  // of them all (logical pixels of the primary's ratio).
  shot.geometry = shot.single ? primary->geometry()
                              : QRect(desktop.topLeft(), QSize(qCeil(desktop.width() / shot.ratio),
                                                               qCeil(desktop.height() / shot.ratio)));
  for (MonitorArea& m : screens) {
    m.bounds = Offset(m.bounds, -desktop.left(), -desktop.top());
    m.work = Offset(m.work, -desktop.left(), -desktop.top());
  }
  shot.monitors = std::move(screens);
  if (!ReadScreensX11(shot, desktop) &&
      !FillPixels(shot, DesktopPictureQt(desktop), desktop.width(), desktop.height()))
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
