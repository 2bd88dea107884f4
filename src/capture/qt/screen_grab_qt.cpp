#include "capture/qt/screen_grab_qt.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QtMath>

#include <cstring>

#include "capture/qt/snapshot_sources_qt.h"

namespace parlex::qt {

QImage PrimaryScreenPart(const QImage& desktop, const QRect& geometry, qreal ratio) {
  const QSize size(qRound(geometry.width() * ratio), qRound(geometry.height() * ratio));
  if (desktop.isNull() || size.isEmpty()) return {};
  if (desktop.size() == size) return desktop;
  const QRect part(QPoint(qRound(geometry.x() * ratio), qRound(geometry.y() * ratio)), size);
  return desktop.rect().contains(part) ? desktop.copy(part) : QImage();
}

std::optional<ScreenSnapshotQt> GrabPrimaryScreenQt(QScreen* workScreen) {
  // On a Wayland desktop, where one window covers one output, the capture
  // covers the output the agent works on.
  const bool wayland = InWaylandSessionQt() || QGuiApplication::platformName().startsWith(
                                                   QLatin1String("wayland"), Qt::CaseInsensitive);
  QScreen* screen = !wayland ? nullptr : workScreen ? workScreen : QGuiApplication::screenAt(QCursor::pos());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return std::nullopt;
  ScreenSnapshotQt shot;
  shot.screen = screen;
  shot.geometry = screen->geometry();
  shot.ratio = screen->devicePixelRatio();
  // A Wayland compositor answers a program's own grab with nothing or with
  // black, and so does Xwayland's root window: the picture comes from the
  // desktop's own sources, whose origin is the desktop's top-left corner.
  const QRect onDesktop = shot.geometry.translated(-screen->virtualGeometry().topLeft());
  const QImage image = (wayland ? PrimaryScreenPart(DesktopSnapshotQt(), onDesktop, shot.ratio)
                                : screen->grabWindow(0).toImage())
                           .convertToFormat(QImage::Format_RGB32);
  const int width = qRound(shot.geometry.width() * shot.ratio);
  const int height = qRound(shot.geometry.height() * shot.ratio);
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
