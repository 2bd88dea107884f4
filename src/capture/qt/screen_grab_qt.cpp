#include "capture/qt/screen_grab_qt.h"

#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QtMath>

#include <cstring>

#include "capture/qt/screenshot_portal_qt.h"

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

QImage DesktopPictureQt(const QRect& desktop) {
  // A Wayland compositor answers a program's own grab with nothing or with
  // black; its portal hands out a picture of the desktop.
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"), Qt::CaseInsensitive))
    return ScreenshotThroughPortalQt();
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

std::optional<ScreenSnapshotQt> GrabDesktopQt() {
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
    screens.push_back(MonitorArea{Rect{place.left(), place.top(), place.right() + 1, place.bottom() + 1},
                                  Rect{work.left(), work.top(), work.right() + 1, work.bottom() + 1}});
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
  const QImage image = DesktopPictureQt(desktop).convertToFormat(QImage::Format_RGB32);
  const int width = desktop.width();
  const int height = desktop.height();
  if (image.isNull() || image.width() != width || image.height() != height) return std::nullopt;
  shot.pixels = PixelBuffer(width, height);
  for (int y = 0; y < height; ++y)
    std::memcpy(shot.pixels.Data() + static_cast<size_t>(y) * width, image.constScanLine(y),
                static_cast<size_t>(width) * 4);
  return shot;
}

void TellGrabFailedQt(QWidget* parent) {
  QMessageBox box(QMessageBox::Warning, QString::fromUtf16(kGrabFailedCaption),
                  QString::fromUtf16(kGrabFailedText), QMessageBox::Ok, parent);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
}

}  // namespace parlex::qt
