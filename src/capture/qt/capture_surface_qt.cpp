#include "capture/qt/capture_surface_qt.h"

#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

#include "capture/qt/x11_grab_qt.h"

namespace parlex::qt {

CaptureSurfaceQt::CaptureSurfaceQt(int width, int height, QWidget* parent)
    : QWidget(parent), image_(width, height, QImage::Format_RGB32) {
  image_.fill(QColor(0, 0, 0));
  setFixedSize(width, height);
  // The image covers every pixel: no background erase before each paint.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CaptureSurfaceQt::SetImage(const QImage& image, qreal ratio) {
  ratio_ = ratio > 0 ? ratio : 1.0;
  image_ = image.convertToFormat(QImage::Format_RGB32);
  image_.setDevicePixelRatio(ratio_);
  setFixedSize(qCeil(image_.width() / ratio_), qCeil(image_.height() / ratio_));
  update();
}

QImage CaptureSurfaceQt::BlankImage(int width, int height) {
  auto* pixels = new PixelBuffer(PixelBuffer::Blank(width, height));
  return QImage(
      reinterpret_cast<uchar*>(pixels->Data()), width, height, static_cast<qsizetype>(width) * 4,
      QImage::Format_RGB32, [](void* block) { delete static_cast<PixelBuffer*>(block); }, pixels);
}

Point CaptureSurfaceQt::ToImage(QPointF widgetPos) const {
  const QPointF device = widgetPos * ratio_;
  // Qt hands positions of a scaled window rounded to its logical pixels, so
  // every other device pixel (at a ratio of 2) could not be pointed at. The
  // X server's own pointer position gives the device pixel, where it agrees
  // with the event's (the pointer may have moved on since).
  if (ratio_ != 1.0) {
    if (const std::optional<Point> now = PointerNow();
        now && qAbs(now->x - device.x()) <= ratio_ && qAbs(now->y - device.y()) <= ratio_)
      return *now;
  }
  return Point{static_cast<int32_t>(qFloor(device.x() + 0.5)),
               static_cast<int32_t>(qFloor(device.y() + 0.5))};
}

std::optional<Point> CaptureSurfaceQt::PointerNow() const {
  const QWidget* top = window();
  const std::optional<QPoint> p = PointerInWindowX11(top->internalWinId());
  if (!p) return std::nullopt;
  const QPointF offset = QPointF(mapTo(top, QPoint(0, 0))) * ratio_;
  return Point{p->x() - qRound(offset.x()), p->y() - qRound(offset.y())};
}

QRect CaptureSurfaceQt::ToWidget(const Rect& r) const {
  if (ratio_ == 1.0) return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
  const int left = qFloor(r.left / ratio_);
  const int top = qFloor(r.top / ratio_);
  return QRect(QPoint(left, top), QPoint(qCeil(r.right / ratio_) - 1, qCeil(r.bottom / ratio_) - 1));
}

QRegion CaptureSurfaceQt::ToWidget(const Region& region) const {
  QRegion out;
  for (const Rect& r : region.Rects()) out += ToWidget(r);
  return out;
}

std::unique_ptr<PixelCanvas> CaptureSurfaceQt::MakeCanvas() {
  // bits() detaches a shared image first, so the canvas owns its pixels alone.
  auto* pixels = reinterpret_cast<uint32_t*>(image_.bits());
  return std::make_unique<PixelCanvas>(pixels, image_.width(), image_.height(),
                                       static_cast<int>(image_.bytesPerLine() / 4), 0xFF);
}

void CaptureSurfaceQt::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (ratio_ == 1.0) {
    for (const QRect& r : event->region()) painter.drawImage(r.topLeft(), image_, r);
    return;
  }
  // The image carries the ratio: drawn at the origin it fills the widget
  // pixel for pixel of the device.
  painter.setClipRegion(event->region());
  painter.drawImage(QPointF(0, 0), image_);
}

QRegion ToQRegion(const Region& region) {
  QRegion out;
  for (const Rect& r : region.Rects()) out += QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
  return out;
}

}  // namespace parlex::qt
