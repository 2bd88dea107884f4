// Reader of .ico and .cur files: the images they hold, as 32-bit pixels.
//
// The Linux build shows the same icon and cursors as the Windows build, which
// reads these files through the resource compiler; this reader gives the
// Linux side the same pictures. Input is untrusted bytes: every size and
// offset is checked before use and anything that does not add up is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace parlex {

struct IconImage {
  int width = 0;
  int height = 0;
  // The point of a cursor image that is the mouse position; 0, 0 in icons.
  int hotspotX = 0;
  int hotspotY = 0;
  // Bits per pixel as stored: 1, 4, 8, 24 or 32.
  int bitCount = 0;
  // width * height pixels, top row first, each 0xAARRGGBB (straight alpha).
  // Pixels of a mask image that the AND mask makes transparent are
  // 0x00000000; those that would invert the screen are 0x00FFFFFF.
  std::vector<uint32_t> pixels;

  uint32_t Pixel(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

enum class IconFileKind { kIcon, kCursor };

struct IconFile {
  IconFileKind kind = IconFileKind::kIcon;
  std::vector<IconImage> images;  // in the order of the file's directory
};

// Decodes every image of an .ico or .cur file. Answers nothing if the file is
// malformed or truncated, or holds an image this reader does not understand
// (PNG-compressed entries, compressed or bit-field bitmaps, images larger
// than 1024 pixels a side).
std::optional<IconFile> DecodeIconFile(std::span<const uint8_t> bytes);

}  // namespace parlex
