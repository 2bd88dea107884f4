// The generated icon and cursor files, read back: sizes, formats, hotspots
// and what the pictures look like where it matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/icon_file.h"
#include "resource.h"
#include "resource_data.h"

namespace parlex {
namespace {

constexpr uint32_t kTransparent = 0x00000000u;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

struct Bounds {
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;  // inclusive
  int Width() const { return right - left + 1; }
  int Height() const { return bottom - top + 1; }
};

Bounds BoundsOf(const IconImage& image, uint32_t colour) {
  Bounds b;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.Pixel(x, y) != colour) continue;
      b.left = std::min(b.left, x);
      b.right = std::max(b.right, x);
      b.top = std::min(b.top, y);
      b.bottom = std::max(b.bottom, y);
    }
  }
  return b;
}

// Whether (x, y) borders on a transparent pixel or the image edge, diagonal
// neighbours included or not.
bool TouchesTransparent(const IconImage& image, int x, int y, bool diagonals = true) {
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      if (!diagonals && dx != 0 && dy != 0) continue;
      const int nx = x + dx, ny = y + dy;
      if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) return true;
      if (image.Pixel(nx, ny) == kTransparent) return true;
    }
  }
  return false;
}

// Pixels of the 8-connected drawing that holds (x, y).
std::vector<std::pair<int, int>> ShapeAt(const IconImage& image, int x, int y) {
  std::vector<char> seen(image.pixels.size(), 0);
  std::vector<std::pair<int, int>> shape, todo{{x, y}};
  while (!todo.empty()) {
    auto [cx, cy] = todo.back();
    todo.pop_back();
    if (cx < 0 || cy < 0 || cx >= image.width || cy >= image.height) continue;
    const size_t at = static_cast<size_t>(cy) * image.width + cx;
    if (seen[at] || image.pixels[at] == kTransparent) continue;
    seen[at] = 1;
    shape.emplace_back(cx, cy);
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) todo.emplace_back(cx + dx, cy + dy);
  }
  return shape;
}

TEST(AppIconFile, HoldsFiveAntialiasedTrueColourImagesLargestFirst) {
  auto file = DecodeIconFile(res::IconFile());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->kind, IconFileKind::kIcon);
  const int sizes[] = {256, 48, 32, 24, 16};
  ASSERT_EQ(file->images.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    const IconImage& image = file->images[i];
    SCOPED_TRACE(image.width);
    EXPECT_EQ(image.width, sizes[i]);
    EXPECT_EQ(image.height, sizes[i]);
    EXPECT_EQ(image.bitCount, 32);
    // Corners are see-through, the middle is opaque blue, and the edges are
    // smoothed with partly transparent pixels.
    EXPECT_EQ(image.Pixel(0, 0) >> 24, 0u);
    EXPECT_EQ(image.Pixel(image.width - 1, 0) >> 24, 0u);
    const uint32_t middle = image.Pixel(image.width / 5, image.height * 2 / 5);
    EXPECT_EQ(middle >> 24, 0xFFu);
    EXPECT_GT(middle & 0xFF, (middle >> 16) & 0xFF) << std::hex << middle;
    const size_t partial = std::count_if(image.pixels.begin(), image.pixels.end(), [](uint32_t p) {
      const uint32_t a = p >> 24;
      return a > 0 && a < 255;
    });
    EXPECT_GE(partial, static_cast<size_t>(image.width)) << "edges not anti-aliased";
    // White dots inside the bubble.
    const uint32_t dot = image.Pixel(image.width / 2, image.height * 43 / 100);
    for (int shift : {0, 8, 16}) EXPECT_GE((dot >> shift) & 0xFF, 0xE0u) << std::hex << dot;
  }
}

struct CursorCase {
  int id;
  int hot32x, hot32y, hot16x, hot16y;
};

constexpr CursorCase kCursors[] = {
    {IDC_TRACK_NWSE, 15, 15, 7, 7}, {IDC_TRACK_NESW, 15, 15, 6, 7}, {IDC_TRACK_NS, 15, 15, 7, 7},
    {IDC_TRACK_WE, 15, 15, 7, 8},   {IDC_TRACK_MOVE, 15, 15, 8, 8}, {IDC_TRACK_MOVEDRAG, 0, 0, 1, 1},
};

TEST(TrackerCursorFiles, EachHoldsMonochrome32And16WithItsHotspotOnBlack) {
  for (const CursorCase& c : kCursors) {
    SCOPED_TRACE(c.id);
    auto file = DecodeIconFile(res::CursorFile(c.id));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->kind, IconFileKind::kCursor);
    ASSERT_EQ(file->images.size(), 2u);
    const IconImage& big = file->images[0];
    const IconImage& small = file->images[1];
    EXPECT_EQ(big.width, 32);
    EXPECT_EQ(big.height, 32);
    EXPECT_EQ(small.width, 16);
    EXPECT_EQ(small.height, 16);
    EXPECT_EQ(big.bitCount, 1);
    EXPECT_EQ(small.bitCount, 1);
    EXPECT_EQ(big.hotspotX, c.hot32x);
    EXPECT_EQ(big.hotspotY, c.hot32y);
    EXPECT_EQ(small.hotspotX, c.hot16x);
    EXPECT_EQ(small.hotspotY, c.hot16y);
    for (const IconImage* image : {&big, &small}) {
      EXPECT_EQ(image->Pixel(image->hotspotX, image->hotspotY), kBlack);
      for (uint32_t p : image->pixels) ASSERT_TRUE(p == kTransparent || p == kBlack || p == kWhite) << p;
      // Nothing is drawn on the right and bottom edges; only the pointer,
      // whose tip is its hotspot, reaches the top and left ones.
      for (int i = 0; i < image->width; ++i) {
        EXPECT_EQ(image->Pixel(image->width - 1, i), kTransparent);
        EXPECT_EQ(image->Pixel(i, image->height - 1), kTransparent);
        if (c.id != IDC_TRACK_MOVEDRAG) {
          EXPECT_EQ(image->Pixel(0, i), kTransparent);
          EXPECT_EQ(image->Pixel(i, 0), kTransparent);
        }
      }
    }
  }
}

TEST(TrackerCursorFiles, ArrowsAreBlackWithAWhiteOutline) {
  for (int id = IDC_TRACK_NWSE; id <= IDC_TRACK_MOVE; ++id) {
    auto file = DecodeIconFile(res::CursorFile(id));
    ASSERT_TRUE(file);
    for (const IconImage& image : file->images) {
      SCOPED_TRACE(testing::Message() << id << " at " << image.width);
      int black = 0;
      for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
          const uint32_t p = image.Pixel(x, y);
          if (p == kBlack) {
            ++black;
            EXPECT_FALSE(TouchesTransparent(image, x, y)) << x << "," << y;
          }
        }
      }
      EXPECT_GE(black, image.width);
      // One drawing, centred on the hotspot.
      EXPECT_EQ(ShapeAt(image, image.hotspotX, image.hotspotY).size(),
                static_cast<size_t>(std::count_if(image.pixels.begin(), image.pixels.end(),
                                                  [](uint32_t p) { return p != kTransparent; })));
      const Bounds b = BoundsOf(image, kBlack);
      EXPECT_LE(std::abs((b.left + b.right) - 2 * image.hotspotX), 1);
      EXPECT_LE(std::abs((b.top + b.bottom) - 2 * image.hotspotY), 1);
    }
  }
}

TEST(TrackerCursorFiles, ShapesPointTheWayOfTheirHandles) {
  for (int size_index = 0; size_index < 2; ++size_index) {
    auto image = [&](int id) { return DecodeIconFile(res::CursorFile(id))->images[size_index]; };
    const IconImage ns = image(IDC_TRACK_NS), we = image(IDC_TRACK_WE), move = image(IDC_TRACK_MOVE);
    const Bounds nsb = BoundsOf(ns, kBlack), web = BoundsOf(we, kBlack), moveb = BoundsOf(move, kBlack);
    EXPECT_GT(nsb.Height(), nsb.Width());
    EXPECT_GT(web.Width(), web.Height());
    EXPECT_EQ(moveb.Width(), moveb.Height());
    EXPECT_GT(moveb.Width(), ns.width / 2);
    // The four-way arrow reaches its far ends along the hotspot's row and column.
    EXPECT_EQ(move.Pixel(moveb.left, move.hotspotY), kBlack);
    EXPECT_EQ(move.Pixel(moveb.right, move.hotspotY), kBlack);
    EXPECT_EQ(move.Pixel(move.hotspotX, moveb.top), kBlack);
    EXPECT_EQ(move.Pixel(move.hotspotX, moveb.bottom), kBlack);

    // The diagonal arrows: black near two opposite corners of their box only.
    for (int id : {IDC_TRACK_NWSE, IDC_TRACK_NESW}) {
      const IconImage d = image(id);
      const Bounds b = BoundsOf(d, kBlack);
      const bool nw = d.Pixel(b.left, b.top) == kBlack && d.Pixel(b.right, b.bottom) == kBlack;
      const bool ne = d.Pixel(b.right, b.top) == kBlack && d.Pixel(b.left, b.bottom) == kBlack;
      EXPECT_EQ(nw, id == IDC_TRACK_NWSE) << id;
      EXPECT_EQ(ne, id == IDC_TRACK_NESW) << id;
    }
  }
}

TEST(TrackerCursorFiles, MoveDragIsAWhitePointerWithAFourWayArrowBelowRight) {
  auto file = DecodeIconFile(res::CursorFile(IDC_TRACK_MOVEDRAG));
  ASSERT_TRUE(file);
  for (const IconImage& image : file->images) {
    SCOPED_TRACE(image.width);
    const auto pointer = ShapeAt(image, image.hotspotX, image.hotspotY);
    int white = 0;
    Bounds pb;
    for (auto [x, y] : pointer) {
      pb.left = std::min(pb.left, x), pb.right = std::max(pb.right, x);
      pb.top = std::min(pb.top, y), pb.bottom = std::max(pb.bottom, y);
      const uint32_t p = image.Pixel(x, y);
      if (p == kWhite) {
        ++white;
        // The pointer's outline runs diagonally, so it closes the white in
        // only along rows and columns.
        EXPECT_FALSE(TouchesTransparent(image, x, y, false)) << "pointer outline open at " << x << "," << y;
      }
    }
    EXPECT_GE(white, 6);
    // The tip is the pointer's top-left corner.
    EXPECT_EQ(pb.left, image.hotspotX);
    EXPECT_EQ(pb.top, image.hotspotY);
    // Everything else is one black-and-white four-way arrow below and to the
    // right of the tip, outlined in white.
    std::vector<std::pair<int, int>> rest;
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        if (image.Pixel(x, y) != kTransparent &&
            std::find(pointer.begin(), pointer.end(), std::make_pair(x, y)) == pointer.end()) {
          rest.emplace_back(x, y);
        }
      }
    }
    ASSERT_FALSE(rest.empty());
    const auto arrow = ShapeAt(image, rest.front().first, rest.front().second);
    EXPECT_EQ(arrow.size(), rest.size());
    for (auto [x, y] : arrow) {
      EXPECT_GT(x, image.hotspotX);
      EXPECT_GT(y, image.hotspotY);
      if (image.Pixel(x, y) == kBlack) {
        EXPECT_FALSE(TouchesTransparent(image, x, y));
      }
    }
  }
}

TEST(TrackerCursorFiles, UnknownIdsHaveNoFile) {
  EXPECT_TRUE(res::CursorFile(206).empty());
  EXPECT_TRUE(res::CursorFile(213).empty());
  EXPECT_TRUE(res::CursorFile(IDI_PARLEX).empty());
}

}  // namespace
}  // namespace parlex
