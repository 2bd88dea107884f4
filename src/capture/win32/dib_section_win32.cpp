#include "capture/win32/dib_section_win32.h"

#include <algorithm>

namespace parlex::win32 {

DibSection::DibSection(HDC reference, int width, int height)
    : width_(width), height_(height), dc_(::CreateCompatibleDC(reference)) {
  if (!dc_ || width <= 0 || height <= 0) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down: row 0 first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_.Reset(::CreateDIBSection(dc_.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap_ || !bits) return;
  previous_ = ::SelectObject(dc_.Get(), bitmap_.Get());
  bits_ = static_cast<uint32_t*>(bits);
}

DibSection::~DibSection() {
  // The bitmap cannot be deleted while a DC holds it.
  if (previous_) ::SelectObject(dc_.Get(), previous_);
}

PixelBuffer DibSection::ToPixelBuffer() const {
  PixelBuffer out(width_, height_);
  if (!bits_) return out;
  ::GdiFlush();
  const size_t count = static_cast<size_t>(width_) * height_;
  std::transform(bits_, bits_ + count, out.Data(), [](uint32_t p) { return p & 0xFFFFFFu; });
  return out;
}

std::optional<PixelBuffer> GrabScreen(int left, int top, int width, int height) {
  ScopedCreatedDc display(::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
  if (!display) return std::nullopt;
  DibSection copy(display.Get(), width, height);
  if (!copy.Ok()) return std::nullopt;
  if (!::BitBlt(copy.Dc(), 0, 0, width, height, display.Get(), left, top, SRCCOPY)) return std::nullopt;
  return copy.ToPixelBuffer();
}

std::optional<PixelBuffer> CopyClientPixels(HWND window) {
  RECT client{};
  if (!::GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) return std::nullopt;
  ScopedWindowDc dc(window);
  if (!dc) return std::nullopt;
  DibSection copy(dc.Get(), client.right, client.bottom);
  if (!copy.Ok()) return std::nullopt;
  if (!::BitBlt(copy.Dc(), 0, 0, client.right, client.bottom, dc.Get(), 0, 0, SRCCOPY)) return std::nullopt;
  return copy.ToPixelBuffer();
}

}  // namespace parlex::win32
