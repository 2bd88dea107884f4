#include "common/icon_file.h"

namespace parlex {
namespace {

constexpr uint64_t kHeaderSize = 6;
constexpr uint64_t kEntrySize = 16;
constexpr uint64_t kInfoHeaderSize = 40;
constexpr int kMaxSide = 1024;
constexpr uint16_t kMaxImages = 256;

uint16_t Read16(std::span<const uint8_t> b, uint64_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t Read32(std::span<const uint8_t> b, uint64_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// Bytes of one bitmap row: rows are padded to whole 32-bit words.
uint64_t Stride(uint64_t width, uint64_t bits) { return ((width * bits + 31) / 32) * 4; }

bool Bit(std::span<const uint8_t> row, int x) { return (row[static_cast<size_t>(x) / 8] >> (7 - x % 8)) & 1; }

std::optional<IconImage> DecodeDib(std::span<const uint8_t> dib) {
  if (dib.size() < kInfoHeaderSize) return std::nullopt;
  if (dib.size() >= 4 && dib[0] == 0x89 && dib[1] == 'P' && dib[2] == 'N' && dib[3] == 'G') {
    return std::nullopt;  // PNG-compressed entries are not read
  }
  const uint32_t headerSize = Read32(dib, 0);
  const auto width = static_cast<int32_t>(Read32(dib, 4));
  const auto doubleHeight = static_cast<int32_t>(Read32(dib, 8));
  const uint16_t planes = Read16(dib, 12);
  const uint16_t bits = Read16(dib, 14);
  const uint32_t compression = Read32(dib, 16);
  const uint32_t coloursUsed = Read32(dib, 32);
  if (headerSize < kInfoHeaderSize || headerSize > dib.size()) return std::nullopt;
  // The height of an icon bitmap counts the colour image and the mask.
  if (width <= 0 || width > kMaxSide || doubleHeight <= 0 || doubleHeight % 2 != 0 ||
      doubleHeight / 2 > kMaxSide) {
    return std::nullopt;
  }
  if (planes != 1 || compression != 0) return std::nullopt;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;
  const int height = doubleHeight / 2;

  uint64_t paletteSize = 0;
  if (bits <= 8) {
    const uint64_t most = uint64_t{1} << bits;
    if (coloursUsed > most) return std::nullopt;
    paletteSize = coloursUsed != 0 ? coloursUsed : most;
  }
  const uint64_t paletteAt = headerSize;
  const uint64_t colourAt = paletteAt + paletteSize * 4;
  const uint64_t colourStride = Stride(static_cast<uint64_t>(width), bits);
  const uint64_t maskAt = colourAt + colourStride * static_cast<uint64_t>(height);
  const uint64_t maskStride = Stride(static_cast<uint64_t>(width), 1);
  const uint64_t end = maskAt + maskStride * static_cast<uint64_t>(height);
  if (end > dib.size()) return std::nullopt;

  IconImage image;
  image.width = width;
  image.height = height;
  image.bitCount = bits;
  image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));

  auto paletteColour = [&](uint64_t index) -> uint32_t {
    if (index >= paletteSize) return 0;  // an index past the palette reads as black
    const uint64_t at = paletteAt + index * 4;
    return (static_cast<uint32_t>(dib[at + 2]) << 16) | (static_cast<uint32_t>(dib[at + 1]) << 8) | dib[at];
  };

  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    // Bitmap rows run bottom-up.
    const uint64_t source = static_cast<uint64_t>(height - 1 - y);
    const auto colourRow = dib.subspan(colourAt + source * colourStride, colourStride);
    const auto maskRow = dib.subspan(maskAt + source * maskStride, maskStride);
    for (int x = 0; x < width; ++x) {
      uint32_t argb = 0;
      const auto ux = static_cast<size_t>(x);
      switch (bits) {
        case 1:
          argb = paletteColour(Bit(colourRow, x));
          break;
        case 4:
          argb = paletteColour((colourRow[ux / 2] >> (ux % 2 == 0 ? 4 : 0)) & 0x0F);
          break;
        case 8:
          argb = paletteColour(colourRow[ux]);
          break;
        case 24:
          argb = (static_cast<uint32_t>(colourRow[ux * 3 + 2]) << 16) |
                 (static_cast<uint32_t>(colourRow[ux * 3 + 1]) << 8) | colourRow[ux * 3];
          break;
        default:
          argb = Read32(colourRow, ux * 4);
          anyAlpha = anyAlpha || (argb >> 24) != 0;
          break;
      }
      const bool transparent = Bit(maskRow, x);
      if (bits != 32) {
        // AND mask set: the screen shows through (black colour) or is
        // inverted (any other colour); we can only show it as transparent.
        if (!transparent) {
          argb |= 0xFF000000u;
        } else {
          argb = (argb & 0x00FFFFFFu) != 0 ? 0x00FFFFFFu : 0;
        }
      }
      image.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + ux] = argb;
    }
  }
  if (bits == 32 && !anyAlpha) {
    // A 32-bit image without alpha (older writers): the mask decides.
    for (int y = 0; y < height; ++y) {
      const uint64_t source = static_cast<uint64_t>(height - 1 - y);
      const auto maskRow = dib.subspan(maskAt + source * maskStride, maskStride);
      for (int x = 0; x < width; ++x) {
        uint32_t& p =
            image.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
        p = Bit(maskRow, x) ? 0 : (p | 0xFF000000u);
      }
    }
  }
  return image;
}

}  // namespace

std::optional<IconFile> DecodeIconFile(std::span<const uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) return std::nullopt;
  const uint16_t reserved = Read16(bytes, 0);
  const uint16_t type = Read16(bytes, 2);
  const uint16_t count = Read16(bytes, 4);
  if (reserved != 0 || (type != 1 && type != 2) || count == 0 || count > kMaxImages) return std::nullopt;
  if (kHeaderSize + kEntrySize * count > bytes.size()) return std::nullopt;

  IconFile file;
  file.kind = type == 1 ? IconFileKind::kIcon : IconFileKind::kCursor;
  for (uint16_t i = 0; i < count; ++i) {
    const uint64_t entry = kHeaderSize + kEntrySize * i;
    const uint32_t size = Read32(bytes, entry + 8);
    const uint32_t offset = Read32(bytes, entry + 12);
    if (static_cast<uint64_t>(offset) + size > bytes.size() || offset < kHeaderSize + kEntrySize * count) {
      return std::nullopt;
    }
    auto image = DecodeDib(bytes.subspan(offset, size));
    if (!image) return std::nullopt;
    if (file.kind == IconFileKind::kCursor) {
      // In a cursor directory the planes and bit-count fields hold the hotspot.
      image->hotspotX = Read16(bytes, entry + 4);
      image->hotspotY = Read16(bytes, entry + 6);
      if (image->hotspotX >= image->width || image->hotspotY >= image->height) return std::nullopt;
    }
    file.images.push_back(std::move(*image));
  }
  return file;
}

}  // namespace parlex
