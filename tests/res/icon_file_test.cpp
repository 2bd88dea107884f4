// The .ico/.cur reader on hand-made files: every pixel format it reads, and
// input that is cut short, lies about its sizes or is plain garbage.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "common/icon_file.h"
#include "resource.h"
#include "resource_data.h"

namespace parlex {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A DIB header for an icon image of width x height (the stored height counts
// the mask too).
Bytes Header(int width, int height, uint16_t bits, uint32_t coloursUsed = 0) {
  Bytes h(40, 0);
  Put32(h, 0, 40);
  Put32(h, 4, static_cast<uint32_t>(width));
  Put32(h, 8, static_cast<uint32_t>(height * 2));
  Put16(h, 12, 1);
  Put16(h, 14, bits);
  Put32(h, 32, coloursUsed);
  return h;
}

// One-image file around the given DIB; type 1 icon, 2 cursor.
Bytes File(uint16_t type, const Bytes& dib, uint16_t a = 1, uint16_t b = 32) {
  Bytes f(22 + dib.size(), 0);
  Put16(f, 2, type);
  Put16(f, 4, 1);
  Put16(f, 10, a);
  Put16(f, 12, b);
  Put32(f, 14, static_cast<uint32_t>(dib.size()));
  Put32(f, 18, 22);
  for (size_t i = 0; i < dib.size(); ++i) f[22 + i] = dib[i];
  return f;
}

std::optional<IconFile> Decode(const Bytes& b) { return DecodeIconFile(b); }

TEST(IconFileDecode, MonochromeMasksGiveTransparentBlackWhiteAndInverted) {
  // 2x2 cursor; top row: black, white; bottom row: transparent, inverted.
  Bytes dib = Header(2, 2, 1);
  const uint8_t palette[] = {0, 0, 0, 0, 255, 255, 255, 0};
  dib.insert(dib.end(), palette, palette + 8);
  // XOR rows bottom-up (4 bytes each), then AND rows.
  const uint8_t xorRows[] = {0x40, 0, 0, 0, 0x40, 0, 0, 0};
  const uint8_t andRows[] = {0xC0, 0, 0, 0, 0x00, 0, 0, 0};
  dib.insert(dib.end(), xorRows, xorRows + 8);
  dib.insert(dib.end(), andRows, andRows + 8);
  auto file = Decode(File(2, dib, 1, 0));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->kind, IconFileKind::kCursor);
  ASSERT_EQ(file->images.size(), 1u);
  const IconImage& image = file->images[0];
  EXPECT_EQ(image.hotspotX, 1);
  EXPECT_EQ(image.hotspotY, 0);
  EXPECT_EQ(image.Pixel(0, 0), 0xFF000000u);
  EXPECT_EQ(image.Pixel(1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(image.Pixel(0, 1), 0x00000000u);
  EXPECT_EQ(image.Pixel(1, 1), 0x00FFFFFFu);
}

TEST(IconFileDecode, PaletteAndTrueColourImages) {
  {  // 4-bit, 3x1, three palette entries, middle pixel (black) masked out
    Bytes dib = Header(3, 1, 4, 3);
    const uint8_t palette[] = {0, 0, 0, 0, 0x10, 0x20, 0x30, 0, 0xAA, 0xBB, 0xCC, 0};
    dib.insert(dib.end(), palette, palette + 12);
    const uint8_t rows[] = {0x10, 0x20, 0, 0, 0x40, 0, 0, 0};
    dib.insert(dib.end(), rows, rows + 8);
    auto file = Decode(File(1, dib));
    ASSERT_TRUE(file);
    const IconImage& image = file->images[0];
    EXPECT_EQ(image.bitCount, 4);
    EXPECT_EQ(image.Pixel(0, 0), 0xFF302010u);
    EXPECT_EQ(image.Pixel(1, 0), 0x00000000u);
    EXPECT_EQ(image.Pixel(2, 0), 0xFFCCBBAAu);
  }
  {  // 24-bit, 1x2: rows are stored bottom-up
    Bytes dib = Header(1, 2, 24);
    const uint8_t rows[] = {1, 2, 3, 0, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    dib.insert(dib.end(), rows, rows + 16);
    auto file = Decode(File(1, dib));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->images[0].Pixel(0, 0), 0xFF060504u);
    EXPECT_EQ(file->images[0].Pixel(0, 1), 0xFF030201u);
  }
  {  // 32-bit with alpha: the mask is ignored
    Bytes dib = Header(2, 1, 32);
    const uint8_t rows[] = {1, 2, 3, 0x80, 4, 5, 6, 0, 0xC0, 0, 0, 0};
    dib.insert(dib.end(), rows, rows + 12);
    auto file = Decode(File(1, dib));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->images[0].Pixel(0, 0), 0x80030201u);
    EXPECT_EQ(file->images[0].Pixel(1, 0), 0x00060504u);
  }
  {  // 32-bit without any alpha: the mask decides
    Bytes dib = Header(2, 1, 32);
    const uint8_t rows[] = {1, 2, 3, 0, 4, 5, 6, 0, 0x40, 0, 0, 0};
    dib.insert(dib.end(), rows, rows + 12);
    auto file = Decode(File(1, dib));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->images[0].Pixel(0, 0), 0xFF030201u);
    EXPECT_EQ(file->images[0].Pixel(1, 0), 0x00000000u);
  }
}

TEST(IconFileDecode, RefusesMalformedDirectories) {
  const auto cursor = res::CursorFile(IDC_TRACK_MOVE);
  const Bytes good(cursor.begin(), cursor.end());
  ASSERT_TRUE(Decode(good));
  EXPECT_FALSE(Decode({}));
  EXPECT_FALSE(Decode(Bytes(good.begin(), good.begin() + 5)));

  auto with = [&](size_t at, uint32_t value, int width) {
    Bytes b = good;
    if (width == 2)
      Put16(b, at, static_cast<uint16_t>(value));
    else
      Put32(b, at, value);
    return b;
  };
  EXPECT_FALSE(Decode(with(0, 1, 2))) << "reserved field";
  EXPECT_FALSE(Decode(with(2, 3, 2))) << "neither icon nor cursor";
  EXPECT_FALSE(Decode(with(4, 0, 2))) << "no images";
  EXPECT_FALSE(Decode(with(4, 40, 2))) << "directory longer than the file";
  EXPECT_FALSE(Decode(with(6 + 12, static_cast<uint32_t>(good.size()), 4))) << "image past the end";
  EXPECT_FALSE(Decode(with(6 + 8, 0xFFFFFFF0u, 4))) << "size that wraps around";
  EXPECT_FALSE(Decode(with(6 + 12, 0xFFFFFFF0u, 4))) << "offset that wraps around";
  EXPECT_FALSE(Decode(with(6 + 12, 6, 4))) << "image inside the directory";
  EXPECT_FALSE(Decode(with(6 + 4, 32, 2))) << "hotspot outside the image";
}

TEST(IconFileDecode, RefusesBitmapsItCannotReadOrThatDoNotFit) {
  const auto cursor = res::CursorFile(IDC_TRACK_MOVE);
  const Bytes good(cursor.begin(), cursor.end());
  const size_t dib = 6 + 16 * 2;  // first image follows the two entries
  ASSERT_EQ(good[dib], 40);
  auto with = [&](size_t at, uint32_t value, int width) {
    Bytes b = good;
    if (width == 2)
      Put16(b, dib + at, static_cast<uint16_t>(value));
    else
      Put32(b, dib + at, value);
    return b;
  };
  EXPECT_FALSE(Decode(with(0, 12, 4))) << "old core header";
  EXPECT_FALSE(Decode(with(0, 100000, 4))) << "header longer than the image";
  EXPECT_FALSE(Decode(with(4, 0, 4))) << "zero width";
  EXPECT_FALSE(Decode(with(4, static_cast<uint32_t>(-32), 4))) << "negative width";
  EXPECT_FALSE(Decode(with(4, 64, 4))) << "wider than the data";
  EXPECT_FALSE(Decode(with(4, 5000, 4))) << "absurd width";
  EXPECT_FALSE(Decode(with(8, 63, 4))) << "odd stored height";
  EXPECT_FALSE(Decode(with(8, static_cast<uint32_t>(-64), 4))) << "top-down height";
  EXPECT_FALSE(Decode(with(8, 128, 4))) << "taller than the data";
  EXPECT_FALSE(Decode(with(12, 2, 2))) << "two planes";
  EXPECT_FALSE(Decode(with(14, 16, 2))) << "16-bit pixels";
  EXPECT_FALSE(Decode(with(14, 32, 2))) << "32-bit pixels do not fit";
  EXPECT_FALSE(Decode(with(16, 3, 4))) << "bit fields";
  EXPECT_FALSE(Decode(with(32, 3, 4))) << "more colours than 1 bit holds";

  Bytes png = good;
  const uint8_t signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::memcpy(png.data() + dib, signature, sizeof signature);
  EXPECT_FALSE(Decode(png)) << "PNG-compressed image";
}

TEST(IconFileDecode, EveryTruncationIsRefused) {
  const auto cursor = res::CursorFile(IDC_TRACK_MOVEDRAG);
  for (size_t n = 0; n < cursor.size(); ++n) EXPECT_FALSE(DecodeIconFile(cursor.first(n))) << n;
  const auto icon = res::IconFile();
  for (size_t n = 0; n < icon.size(); n += 4099) EXPECT_FALSE(DecodeIconFile(icon.first(n))) << n;
  EXPECT_FALSE(DecodeIconFile(icon.first(icon.size() - 1)));
}

TEST(IconFileDecode, DamagedFilesNeverReadOutOfBounds) {
  // Whatever comes back must be internally consistent; the sanitizer build
  // catches any read outside the input.
  const auto cursor = res::CursorFile(IDC_TRACK_NWSE);
  std::mt19937 random(12345);
  int decoded = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes b(cursor.begin(), cursor.end());
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i) b[random() % 80] = static_cast<uint8_t>(random());
    if (auto file = Decode(b)) {
      ++decoded;
      for (const IconImage& image : file->images) {
        ASSERT_EQ(image.pixels.size(), static_cast<size_t>(image.width) * image.height);
        ASSERT_LT(image.hotspotX, image.width);
        ASSERT_LT(image.hotspotY, image.height);
      }
    }
  }
  // Damage to fields the reader does not use leaves files readable.
  EXPECT_GT(decoded, 0);
}

}  // namespace
}  // namespace parlex
