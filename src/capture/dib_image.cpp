#include "capture/dib_image.h"

#include <cstdint>

namespace parlex {
namespace {

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::string PackedDib(const PixelBuffer& image) {
  const int w = image.Width();
  const int h = image.Height();
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
  std::string out;
  out.reserve(40 + stride * static_cast<size_t>(h));
  Put32(out, 40);                                                      // biSize
  Put32(out, static_cast<uint32_t>(w));                                // biWidth
  Put32(out, static_cast<uint32_t>(h));                                // biHeight: positive, bottom-up
  Put16(out, 1);                                                       // biPlanes
  Put16(out, 24);                                                      // biBitCount
  Put32(out, 0);                                                       // biCompression: BI_RGB
  Put32(out, static_cast<uint32_t>(stride * static_cast<size_t>(h)));  // biSizeImage
  Put32(out, 3780);                                                    // biXPelsPerMeter: 96 dpi
  Put32(out, 3780);                                                    // biYPelsPerMeter
  Put32(out, 0);                                                       // biClrUsed
  Put32(out, 0);                                                       // biClrImportant
  for (int y = h - 1; y >= 0; --y) {
    const size_t start = out.size();
    for (int x = 0; x < w; ++x) {
      const Color c = image.At(x, y);
      out += static_cast<char>(BlueOf(c));
      out += static_cast<char>(GreenOf(c));
      out += static_cast<char>(RedOf(c));
    }
    out.append(stride - (out.size() - start), '\0');
  }
  return out;
}

}  // namespace parlex
