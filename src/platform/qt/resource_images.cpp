#include "platform/qt/resource_images.h"

#include <QPixmap>

#include "resource_data.h"

namespace parlex::qt {

QImage ToQImage(const IconImage& image) {
  QImage out(image.width, image.height, QImage::Format_ARGB32);
  for (int y = 0; y < image.height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < image.width; ++x) line[x] = image.Pixel(x, y);
  }
  return out;
}

QIcon AppIcon() {
  // Built on each call (a few hundred kilobytes, asked for once or twice):
  // a cached icon would outlive the application object that pixmaps need.
  QIcon icon;
  if (auto file = DecodeIconFile(res::IconFile())) {
    for (const IconImage& image : file->images) icon.addPixmap(QPixmap::fromImage(ToQImage(image)));
  }
  return icon;
}

QCursor TrackerCursor(int resourceId) {
  auto file = DecodeIconFile(res::CursorFile(resourceId));
  if (!file) return QCursor(Qt::ArrowCursor);
  for (const IconImage& image : file->images) {
    if (image.width == 32 && image.height == 32) {
      return QCursor(QPixmap::fromImage(ToQImage(image)), image.hotspotX, image.hotspotY);
    }
  }
  return QCursor(Qt::ArrowCursor);
}

}  // namespace parlex::qt
