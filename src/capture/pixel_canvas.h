// PixelCanvas: the Canvas of canvas.h over a 32-bit pixel buffer in memory.
// Tests assert real pixels through it, and the Linux capture surface draws
// with it (the buffer is what the window shows).
//
// Pixel format: one uint32_t per pixel, 0x??RRGGBB in the machine's byte
// order (on little-endian machines the bytes B, G, R, ? in memory: the layout
// of a 32-bit DIB and of QImage::Format_RGB32). Drawing reads and writes the
// 24 RGB bits only. The top byte: copy-mode writes put `topByte` there (0 by
// default; 0xFF for a surface that must stay opaque), not-xor keeps the byte
// the pixel had.
//
// Several PixelCanvas objects may draw on one buffer at once (each has its own
// pen, brush, raster mode, position and clip, as two DCs of one window do).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "capture/canvas.h"

namespace parlex {

// Storage for pixels. A whole desktop is tens of megabytes: such blocks are
// asked for in huge pages where the system has them (a page fault per 4 KiB
// made a fresh snapshot cost more than reading the screen), and pixels made
// without a value are not written twice (see PixelBuffer::Blank).
void* AllocatePixels(size_t bytes);
void FreePixels(void* block, size_t bytes) noexcept;

template <typename T>
struct PixelAllocator {
  using value_type = T;
  PixelAllocator() = default;
  template <typename U>
  PixelAllocator(const PixelAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(AllocatePixels(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { FreePixels(p, n * sizeof(T)); }
  // Made without a value: left as the memory was.
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  friend bool operator==(const PixelAllocator&, const PixelAllocator<U>&) noexcept {
    return true;
  }
};

// An owned buffer for tests and off-screen surfaces.
class PixelBuffer {
 public:
  PixelBuffer(int width, int height, uint32_t fill = 0)
      : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill) {}
  // A buffer whose every pixel the caller writes before reading any.
  static PixelBuffer Blank(int width, int height) {
    PixelBuffer b(0, 0);
    b.width_ = width;
    b.height_ = height;
    b.pixels_.resize(static_cast<size_t>(width) * height);
    return b;
  }

  int Width() const { return width_; }
  int Height() const { return height_; }
  uint32_t* Data() { return pixels_.data(); }
  const uint32_t* Data() const { return pixels_.data(); }
  // The 24 RGB bits at (x, y), which must lie inside.
  Color At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x] & 0xFFFFFFu; }
  void Set(int x, int y, uint32_t value) { pixels_[static_cast<size_t>(y) * width_ + x] = value; }

  friend bool operator==(const PixelBuffer&, const PixelBuffer&) = default;

 private:
  int width_;
  int height_;
  std::vector<uint32_t, PixelAllocator<uint32_t>> pixels_;
};

class PixelCanvas final : public Canvas {
 public:
  // Draws on width x height pixels at `pixels`, rows `stride` pixels apart.
  // The buffer is borrowed and must outlive the canvas.
  PixelCanvas(uint32_t* pixels, int width, int height, int stride, uint8_t topByte = 0);
  explicit PixelCanvas(PixelBuffer& buffer, uint8_t topByte = 0);

  int Width() const { return width_; }
  int Height() const { return height_; }
  // The 24 RGB bits at (x, y); 0 outside the surface.
  Color GetPixel(int x, int y) const;

  RasterMode SetRasterMode(RasterMode mode) override;
  Pen SelectPen(const Pen& pen) override;
  Brush SelectBrush(const Brush& brush) override;
  BackgroundMode SetBackgroundMode(BackgroundMode mode) override;
  Color SetBackgroundColor(Color color) override;
  void SetClipRect(const Rect* clip) override;

  Point MoveTo(Point to) override;
  void LineTo(Point to) override;

  void FillRect(const Rect& rect, const Brush& brush) override;
  void FrameRect(const Rect& rect, const Brush& brush) override;
  void SetPixel(Point p, Color color) override;

  void Polygon(const Point* points, size_t count) override;
  void Ellipse(const Rect& bounds) override;
  void Rectangle(const Rect& bounds) override;

 private:
  struct DashState {
    int index = 0;      // which run of the pattern
    int leftInRun = 0;  // pixels left in that run
  };

  // The drawable area: surface bounds intersected with the clip rectangle.
  Rect Visible() const { return visible_; }
  void ResetDash();
  // Plots one pen pixel (the dash state advances with every pixel, drawn or not).
  void PenPixel(int x, int y);
  // One GDI line segment without its end point, with the dash state running on.
  void PenSegment(Point from, Point to);
  // Closed outline through the points, the dash restarted at the first point.
  void PenOutline(const Point* points, size_t count);
  // Fills [x0, x1) on row y with the brush under `mode` (clipped).
  void BrushSpan(int y, int x0, int x1, const Brush& brush, RasterMode mode);
  void BrushRect(const Rect& r, const Brush& brush, RasterMode mode);
  void Plot(int x, int y, Color color, RasterMode mode);

  uint32_t* pixels_;
  int width_;
  int height_;
  int stride_;
  uint32_t top_;  // topByte << 24

  RasterMode mode_ = RasterMode::kCopyPen;
  Pen pen_{PenStyle::kSolid, 0};
  Brush brush_ = Brush::Solid(0xFFFFFF);
  BackgroundMode bkMode_ = BackgroundMode::kOpaque;
  Color bkColor_ = 0xFFFFFF;
  Point position_{};
  bool hasClip_ = false;
  Rect clip_{};
  Rect visible_{};
  DashState dash_;
};

}  // namespace parlex
