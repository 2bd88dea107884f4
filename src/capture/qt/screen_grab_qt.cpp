#include "capture/qt/screen_grab_qt.h"

#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QtMath>

#include <cstring>

namespace parlex::qt {

std::optional<ScreenSnapshotQt> GrabPrimaryScreenQt() {
  // A Wayland compositor answers grabs with nothing or with black.
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"), Qt::CaseInsensitive))
    return std::nullopt;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return std::nullopt;
  ScreenSnapshotQt shot;
  shot.screen = screen;
  shot.geometry = screen->geometry();
  shot.ratio = screen->devicePixelRatio();
  const QImage image = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
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
