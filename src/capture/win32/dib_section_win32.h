// Pixels between GDI and the capture core: a 32-bit top-down DIB section in a
// memory DC has the layout of a PixelBuffer (one 0x??RRGGBB word per pixel,
// rows one after the other), so the core's frames and GDI's blits meet
// without conversion.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "capture/pixel_canvas.h"
#include "platform/win32/scoped_handle.h"

namespace parlex::win32 {

class DibSection {
 public:
  // width x height pixels, compatible with `reference` (null: the screen).
  DibSection(HDC reference, int width, int height);
  ~DibSection();
  DibSection(const DibSection&) = delete;
  DibSection& operator=(const DibSection&) = delete;

  bool Ok() const { return bits_ != nullptr; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // The memory DC the section is selected into.
  HDC Dc() const { return dc_.Get(); }
  // Row 0 first, Width() pixels a row. GdiFlush before reading what GDI drew.
  uint32_t* Bits() const { return bits_; }
  // A copy of the pixels, the top byte cleared.
  PixelBuffer ToPixelBuffer() const;

 private:
  int width_;
  int height_;
  ScopedCreatedDc dc_;
  ScopedGdiObject<HBITMAP> bitmap_;
  HGDIOBJ previous_ = nullptr;
  uint32_t* bits_ = nullptr;
};

// The display's pixels from (left, top) of the virtual desktop (the primary
// monitor's top-left is (0, 0); others may lie at negative offsets), width x
// height device pixels (CreateDCW("DISPLAY") + BitBlt); none when they
// cannot be read.
std::optional<PixelBuffer> GrabScreen(int left, int top, int width, int height);
inline std::optional<PixelBuffer> GrabScreen(int width, int height) {
  return GrabScreen(0, 0, width, height);
}

// A window's client pixels as it shows them now (GetDC + BitBlt); none when
// they cannot be read or the client area is empty.
std::optional<PixelBuffer> CopyClientPixels(HWND window);

}  // namespace parlex::win32
