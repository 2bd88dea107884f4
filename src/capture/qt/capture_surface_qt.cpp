#include "capture/qt/capture_surface_qt.h"

#include <QPaintEvent>
#include <QPainter>

namespace parlex::qt {

CaptureSurfaceQt::CaptureSurfaceQt(int width, int height, QWidget* parent)
    : QWidget(parent), image_(width, height, QImage::Format_RGB32) {
  image_.fill(QColor(0, 0, 0));
  setFixedSize(width, height);
  // The image covers every pixel: no background erase before each paint.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CaptureSurfaceQt::SetImage(const QImage& image) {
  image_ = image.convertToFormat(QImage::Format_RGB32);
  setFixedSize(image_.size());
  update();
}

std::unique_ptr<PixelCanvas> CaptureSurfaceQt::MakeCanvas() {
  // bits() detaches a shared image first, so the canvas owns its pixels alone.
  auto* pixels = reinterpret_cast<uint32_t*>(image_.bits());
  return std::make_unique<PixelCanvas>(pixels, image_.width(), image_.height(),
                                       static_cast<int>(image_.bytesPerLine() / 4), 0xFF);
}

void CaptureSurfaceQt::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  for (const QRect& r : event->region()) painter.drawImage(r.topLeft(), image_, r);
}

QRegion ToQRegion(const Region& region) {
  QRegion out;
  for (const Rect& r : region.Rects()) out += QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
  return out;
}

}  // namespace parlex::qt
