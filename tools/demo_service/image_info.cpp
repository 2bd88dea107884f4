#include "image_info.h"

namespace parlex::demo {
namespace {

uint32_t Byte(std::string_view b, size_t i) { return static_cast<unsigned char>(b[i]); }
uint32_t Be16(std::string_view b, size_t i) { return Byte(b, i) << 8 | Byte(b, i + 1); }
uint32_t Be32(std::string_view b, size_t i) { return Be16(b, i) << 16 | Be16(b, i + 2); }

// Start-of-frame markers: C0-CF except DHT (C4), JPG (C8) and DAC (CC).
bool IsStartOfFrame(uint32_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<ImageInfo> ReadJpeg(std::string_view b) {
  size_t i = 2;  // behind SOI
  while (i < b.size()) {
    if (Byte(b, i) != 0xFF) return std::nullopt;
    while (i < b.size() && Byte(b, i) == 0xFF) ++i;  // fill bytes
    if (i >= b.size()) return std::nullopt;
    uint32_t marker = Byte(b, i++);
    // Markers without a segment.
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;
    // The scan or the end before any frame header: no size to read.
    if (marker == 0xDA || marker == 0xD9 || i + 2 > b.size()) return std::nullopt;
    uint32_t length = Be16(b, i);
    if (length < 2 || i + length > b.size()) return std::nullopt;
    if (IsStartOfFrame(marker)) {
      // length, precision, height, width, components
      if (length < 8) return std::nullopt;
      uint32_t height = Be16(b, i + 3);
      uint32_t width = Be16(b, i + 5);
      if (width == 0 || height == 0) return std::nullopt;
      return ImageInfo{ImageInfo::Kind::kJpeg, width, height};
    }
    i += length;
  }
  return std::nullopt;
}

std::optional<ImageInfo> ReadPng(std::string_view b) {
  // signature, IHDR's length (13) and type, width, height
  if (b.size() < 8 + 8 + 13 || Be32(b, 8) != 13 || b.substr(12, 4) != "IHDR") return std::nullopt;
  uint32_t width = Be32(b, 16);
  uint32_t height = Be32(b, 20);
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return std::nullopt;
  return ImageInfo{ImageInfo::Kind::kPng, width, height};
}

}  // namespace

std::optional<ImageInfo> ReadImageInfo(std::string_view bytes) {
  static constexpr std::string_view kPngSignature("\x89PNG\r\n\x1A\n", 8);
  if (bytes.size() >= 3 && Byte(bytes, 0) == 0xFF && Byte(bytes, 1) == 0xD8 && Byte(bytes, 2) == 0xFF) {
    return ReadJpeg(bytes);
  }
  if (bytes.substr(0, 8) == kPngSignature) return ReadPng(bytes);
  return std::nullopt;
}

}  // namespace parlex::demo
