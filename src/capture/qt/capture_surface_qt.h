// CaptureSurfaceQt: a widget that shows a 32-bit image it owns. Everything
// the capture window shows (the screen picture, the tracker, annotations and
// the drag loop's feedback) is drawn into that image through PixelCanvas, the
// same drawing code the Windows build runs over GDI; the widget only copies
// the image to the screen in its paint event.
#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>

#include <memory>
#include <optional>

#include "capture/pixel_canvas.h"
#include "capture/region.h"

namespace parlex::qt {

class CaptureSurfaceQt : public QWidget {
 public:
  // A surface of width x height pixels, opaque black, shown at that size.
  CaptureSurfaceQt(int width, int height, QWidget* parent = nullptr);

  // The image the widget shows (QImage::Format_RGB32: 0xFFRRGGBB).
  QImage& Image() { return image_; }
  const QImage& Image() const { return image_; }
  // Replaces the image (converted to Format_RGB32), shown at `ratio` device
  // pixels per widget pixel, and resizes the widget.
  void SetImage(const QImage& image, qreal ratio = 1.0);
  qreal Ratio() const { return ratio_; }
  // An RGB32 image of width x height whose pixels are not set yet, in the
  // pixel storage a desktop-sized buffer wants: for an image every pixel of
  // which is drawn before it shows.
  static QImage BlankImage(int width, int height);

  // A widget position (of an event, or the pointer's) as the image pixel
  // under it.
  Point ToImage(QPointF widgetPos) const;
  // The image pixel under the pointer now, as the window system has it in
  // device pixels; none where it does not tell (off X).
  std::optional<Point> PointerNow() const;
  // The widget rectangle covering an image rectangle.
  QRect ToWidget(const Rect& rect) const;
  // The widget region covering an image region.
  QRegion ToWidget(const Region& region) const;

  // A canvas over the image's pixels. It keeps the top byte 0xFF, as the
  // format wants. Valid while the image is neither replaced nor resized; call
  // update() (or Show()) for what was drawn to reach the screen.
  std::unique_ptr<PixelCanvas> MakeCanvas();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
  qreal ratio_ = 1.0;
};

// The region as a QRegion (for update(QRegion) at a ratio of 1).
QRegion ToQRegion(const Region& region);

}  // namespace parlex::qt
