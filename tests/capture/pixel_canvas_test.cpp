#include "capture/pixel_canvas.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "tracker_fakes.h"

namespace parlex {
namespace {

using testing::NoisyBuffer;

constexpr Color kWhite = 0xFFFFFF;
constexpr Color kRed = Rgb(255, 0, 0);
constexpr Color kBlue = Rgb(0, 0, 255);

using PixelSet = std::set<std::pair<int, int>>;

// Pixels of `b` that hold `c`.
PixelSet PixelsOf(const PixelBuffer& b, Color c) {
  PixelSet s;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.At(x, y) == c) s.insert({x, y});
  return s;
}

PixelSet Line(Point from, Point to) {
  PixelBuffer b(40, 40, kWhite);
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kSolid, kRed});
  c.MoveTo(from);
  c.LineTo(to);
  return PixelsOf(b, kRed);
}

TEST(PixelCanvasLines, BresenhamLeavesOutTheEndPoint) {
  EXPECT_EQ(Line({0, 0}, {5, 5}), (PixelSet{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}));
  EXPECT_EQ(Line({0, 0}, {4, 2}), (PixelSet{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
  EXPECT_EQ(Line({3, 7}, {3, 3}), (PixelSet{{3, 7}, {3, 6}, {3, 5}, {3, 4}}));
  EXPECT_EQ(Line({2, 9}, {6, 9}), (PixelSet{{2, 9}, {3, 9}, {4, 9}, {5, 9}}));
  EXPECT_TRUE(Line({5, 5}, {5, 5}).empty());
}

TEST(PixelCanvasLines, ALineDrawnBackwardsCoversTheSamePixelsButItsOtherEnd) {
  // The octant bias makes the middle pixels agree whichever way the line runs.
  // One line with an exact tie between two pixels in every pair of octants.
  const Point ends[][2] = {{{0, 0}, {4, 2}},   {{0, 2}, {4, 0}},   {{0, 0}, {2, 4}},   {{2, 0}, {0, 4}},
                           {{1, 3}, {21, 13}}, {{2, 30}, {10, 2}}, {{30, 2}, {2, 16}}, {{5, 35}, {9, 3}}};
  for (const auto& e : ends) {
    PixelSet forward = Line(e[0], e[1]);
    PixelSet backward = Line(e[1], e[0]);
    forward.erase({e[0].x, e[0].y});
    backward.erase({e[1].x, e[1].y});
    EXPECT_EQ(forward, backward) << e[0].x << "," << e[0].y << " - " << e[1].x << "," << e[1].y;
  }
  // (4,2) -> (0,0): the bias sends the step to the other side of the tie.
  EXPECT_EQ(Line({4, 2}, {0, 0}), (PixelSet{{4, 2}, {3, 1}, {2, 1}, {1, 0}}));
}

TEST(PixelCanvasLines, LineToMovesTheCurrentPosition) {
  PixelBuffer b(20, 20, kWhite);
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kSolid, kRed});
  EXPECT_EQ(c.MoveTo({2, 2}), (Point{0, 0}));
  c.LineTo({6, 2});
  c.LineTo({6, 5});
  EXPECT_EQ(c.MoveTo({0, 0}), (Point{6, 5}));
  EXPECT_EQ(PixelsOf(b, kRed), (PixelSet{{2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}, {6, 3}, {6, 4}}));
}

TEST(PixelCanvasPens, DottedPenIsThreeOnThreeOffFromEveryLineTo) {
  PixelBuffer b(40, 4, Rgb(9, 9, 9));
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kDot, kRed});
  c.SetBackgroundMode(BackgroundMode::kTransparent);
  c.MoveTo({0, 0});
  c.LineTo({14, 0});
  c.MoveTo({20, 1});  // a new LineTo starts "on" again
  c.LineTo({14, 1});
  std::string row0, row1;
  for (int x = 0; x < 22; ++x) {
    row0 += b.At(x, 0) == kRed ? '#' : '.';
    row1 += b.At(x, 1) == kRed ? '#' : '.';
  }
  EXPECT_EQ(row0, "###...###...##........");
  EXPECT_EQ(row1, "..................###.");
  // Opaque background: the gaps take the background colour.
  c.SetBackgroundMode(BackgroundMode::kOpaque);
  c.SetBackgroundColor(kBlue);
  c.MoveTo({0, 2});
  c.LineTo({8, 2});
  std::string row2;
  for (int x = 0; x < 10; ++x) row2 += b.At(x, 2) == kRed ? '#' : b.At(x, 2) == kBlue ? 'o' : '.';
  EXPECT_EQ(row2, "###ooo##..");
}

TEST(PixelCanvasPens, DashDotDotRunsNineThreeThreeThreeThreeThreeAndGoesOnAroundARectangle) {
  PixelBuffer b(60, 20, kWhite);
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kDashDotDot, kRed});
  c.SetBackgroundMode(BackgroundMode::kTransparent);
  c.MoveTo({0, 0});
  c.LineTo({30, 0});
  std::string row;
  for (int x = 0; x < 30; ++x) row += b.At(x, 0) == kRed ? '#' : '.';
  EXPECT_EQ(row, "#########...###...###...######");

  // Rectangle (10,5)-(20,10): the outline starts at (19,5) going left and the
  // pattern runs on around the corners (9 on along the top, then 3 off...).
  c.SelectBrush(Brush::Null());
  c.Rectangle(Rect{10, 5, 20, 10});
  std::string top;
  for (int x = 19; x >= 10; --x) top += b.At(x, 5) == kRed ? '#' : '.';
  EXPECT_EQ(top, "#########.");  // (10,5) is the first off pixel
  std::string left;
  for (int y = 6; y <= 9; ++y) left += b.At(10, y) == kRed ? '#' : '.';
  EXPECT_EQ(left, "..##");  // two more off, then the first dot
}

TEST(PixelCanvasPens, NullPenDrawsNothing) {
  PixelBuffer b(20, 20, kWhite);
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kNull, kRed});
  c.SelectBrush(Brush::Null());
  c.MoveTo({0, 0});
  c.LineTo({10, 10});
  c.Rectangle(Rect{2, 2, 9, 9});
  c.Ellipse(Rect{2, 2, 15, 12});
  EXPECT_EQ(b, PixelBuffer(20, 20, kWhite));
}

TEST(PixelCanvasFills, FillRectAndFrameRectCopyWhateverTheRasterMode) {
  PixelBuffer b(20, 20, kWhite);
  PixelCanvas c(b);
  c.SetRasterMode(RasterMode::kNotXorPen);
  c.FillRect(Rect{2, 2, 5, 4}, Brush::Solid(kRed));
  c.FillRect(Rect{2, 2, 5, 4}, Brush::Solid(kRed));  // twice: still red
  EXPECT_EQ(PixelsOf(b, kRed), (PixelSet{{2, 2}, {3, 2}, {4, 2}, {2, 3}, {3, 3}, {4, 3}}));

  c.FrameRect(Rect{10, 10, 14, 13}, Brush::Solid(kBlue));
  EXPECT_EQ(PixelsOf(b, kBlue), (PixelSet{{10, 10},
                                          {11, 10},
                                          {12, 10},
                                          {13, 10},
                                          {10, 11},
                                          {13, 11},
                                          {10, 12},
                                          {11, 12},
                                          {12, 12},
                                          {13, 12}}));
  // Nothing for an empty or inverted frame; a null brush fills nothing.
  PixelBuffer before = b;
  c.FrameRect(Rect{5, 5, 5, 9}, Brush::Solid(kBlue));
  c.FrameRect(Rect{9, 5, 5, 9}, Brush::Solid(kBlue));
  c.FillRect(Rect{0, 0, 20, 20}, Brush::Null());
  EXPECT_EQ(b, before);
}

TEST(PixelCanvasFills, AnInvertedFillRectCoversTheColumnsAfterItsRightEdgeUpToItsLeft) {
  PixelBuffer b(20, 20, kWhite);
  PixelCanvas c(b);
  c.FillRect(Rect{8, 3, 5, 4}, Brush::Solid(kRed));  // like PatBlt with width -3
  EXPECT_EQ(PixelsOf(b, kRed), (PixelSet{{6, 3}, {7, 3}, {8, 3}}));
}

TEST(PixelCanvasFills, PatternBrushesAreAlignedToTheCanvasOrigin) {
  auto pattern = std::make_shared<BrushPattern>();
  pattern->width = 4;
  pattern->height = 4;
  for (int i = 0; i < 16; ++i) pattern->pixels.push_back(Rgb(0, 0, static_cast<uint8_t>(i)));
  PixelBuffer b(30, 30, kWhite);
  PixelCanvas c(b);
  c.FillRect(Rect{3, 5, 11, 12}, Brush::Pattern(pattern));
  for (int y = 5; y < 12; ++y)
    for (int x = 3; x < 11; ++x) ASSERT_EQ(b.At(x, y), Rgb(0, 0, static_cast<uint8_t>((y % 4) * 4 + x % 4)));
  EXPECT_EQ(b.At(2, 5), kWhite);
  EXPECT_EQ(b.At(11, 5), kWhite);
}

TEST(PixelCanvasShapes, RectangleLeavesOutRightAndBottomAndFillsInside) {
  PixelBuffer b(20, 20, kWhite);
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kSolid, kRed});
  c.SelectBrush(Brush::Solid(kBlue));
  c.Rectangle(Rect{12, 9, 4, 2});  // corners in any order
  EXPECT_EQ(b.At(4, 2), kRed);
  EXPECT_EQ(b.At(11, 2), kRed);
  EXPECT_EQ(b.At(11, 8), kRed);
  EXPECT_EQ(b.At(4, 8), kRed);
  EXPECT_EQ(b.At(12, 5), kWhite);
  EXPECT_EQ(b.At(7, 9), kWhite);
  EXPECT_EQ(PixelsOf(b, kRed).size(), 2u * 8 + 2u * 5);
  EXPECT_EQ(PixelsOf(b, kBlue).size(), 6u * 5);
  EXPECT_EQ(b.At(5, 3), kBlue);
  EXPECT_EQ(b.At(10, 7), kBlue);
}

TEST(PixelCanvasShapes, EllipseStaysInsideItsBoxTouchesEverySideAndIsSymmetric) {
  for (Rect box : {Rect{10, 10, 41, 30}, Rect{5, 5, 25, 12}, Rect{3, 4, 9, 9}}) {
    PixelBuffer b(60, 50, kWhite);
    PixelCanvas c(b);
    c.SelectPen(Pen{PenStyle::kSolid, kRed});
    c.SelectBrush(Brush::Null());
    c.Ellipse(box);
    const PixelSet outline = PixelsOf(b, kRed);
    ASSERT_FALSE(outline.empty());
    int minX = 99, maxX = -1, minY = 99, maxY = -1;
    for (auto [x, y] : outline) {
      minX = std::min(minX, x), maxX = std::max(maxX, x);
      minY = std::min(minY, y), maxY = std::max(maxY, y);
      EXPECT_TRUE(outline.count({box.left + box.right - 1 - x, y})) << x << "," << y;
      EXPECT_TRUE(outline.count({x, box.top + box.bottom - 1 - y})) << x << "," << y;
    }
    EXPECT_EQ(minX, box.left);
    EXPECT_EQ(maxX, box.right - 1);
    EXPECT_EQ(minY, box.top);
    EXPECT_EQ(maxY, box.bottom - 1);
    // Closed: every outline pixel has exactly two 8-neighbours or more.
    for (auto [x, y] : outline) {
      int n = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if ((dx || dy) && outline.count({x + dx, y + dy})) ++n;
      EXPECT_GE(n, 2) << x << "," << y;
    }
    // The corners of the box stay untouched; the centre is inside, unpainted.
    EXPECT_EQ(b.At(box.left, box.top), kWhite);
    EXPECT_EQ(b.At(box.right - 1, box.bottom - 1), kWhite);
  }
}

TEST(PixelCanvasShapes, FilledEllipseCoversItsInsideWithinTheOutline) {
  PixelBuffer b(60, 50, kWhite);
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kSolid, kRed});
  c.SelectBrush(Brush::Solid(kBlue));
  c.Ellipse(Rect{10, 10, 41, 30});
  EXPECT_EQ(b.At(25, 20), kBlue);
  EXPECT_EQ(b.At(11, 20), kBlue);
  // Every row: outline at both ends, brush in between, nothing outside.
  for (int y = 11; y < 29; ++y) {
    int first = -1, last = -1;
    for (int x = 0; x < 60; ++x)
      if (b.At(x, y) != kWhite) {
        if (first < 0) first = x;
        last = x;
      }
    ASSERT_GE(first, 10);
    EXPECT_LE(last, 40);
    EXPECT_EQ(b.At(first, y), kRed);
    EXPECT_EQ(b.At(last, y), kRed);
    for (int x = first; x <= last; ++x) EXPECT_NE(b.At(x, y), kWhite) << x << "," << y;
  }
}

TEST(PixelCanvasShapes, PolygonFillsWithTheBrushAndOutlinesThroughEveryVertex) {
  PixelBuffer b(30, 30, kWhite);
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kSolid, kRed});
  c.SelectBrush(Brush::Solid(kBlue));
  const Point square[] = {{2, 2}, {12, 2}, {12, 12}, {2, 12}};
  c.Polygon(square, 4);
  EXPECT_EQ(b.At(2, 2), kRed);
  EXPECT_EQ(b.At(12, 12), kRed);  // the outline passes through every vertex
  EXPECT_EQ(b.At(7, 12), kRed);
  EXPECT_EQ(b.At(13, 7), kWhite);
  EXPECT_EQ(PixelsOf(b, kBlue).size(), 9u * 9);
  EXPECT_EQ(b.At(3, 3), kBlue);
  EXPECT_EQ(b.At(11, 11), kBlue);

  // A triangle: filled rows narrow toward the tip.
  PixelBuffer t(30, 30, kWhite);
  PixelCanvas tc(t);
  tc.SelectPen(Pen{PenStyle::kNull, 0});
  tc.SelectBrush(Brush::Solid(kBlue));
  const Point tri[] = {{10, 0}, {20, 20}, {0, 20}};
  tc.Polygon(tri, 3);
  EXPECT_EQ(t.At(10, 1), kBlue);
  EXPECT_EQ(t.At(2, 19), kBlue);
  EXPECT_EQ(t.At(10, 20), kWhite);  // the bottom row is left out
  EXPECT_EQ(t.At(3, 5), kWhite);
  int previous = 0;
  for (int y = 0; y < 20; ++y) {
    int n = 0;
    for (int x = 0; x < 30; ++x) n += t.At(x, y) == kBlue;
    EXPECT_GE(n, previous) << y;
    previous = n;
  }
}

TEST(PixelCanvasModes, NotXorOfTheSameDrawingTwiceRestoresEveryPixel) {
  const PixelBuffer original = NoisyBuffer(64, 48);
  PixelBuffer b = original;
  PixelCanvas c(b);
  c.SetRasterMode(RasterMode::kNotXorPen);
  auto draw = [&] {
    c.SelectPen(Pen{PenStyle::kDot, Rgb(254, 91, 14)});
    c.MoveTo({1, 1});
    c.LineTo({60, 40});
    c.SelectPen(Pen{PenStyle::kSolid, kRed});
    c.SelectBrush(Brush::Solid(Rgb(10, 20, 30)));
    c.Rectangle(Rect{5, 5, 30, 20});
    c.Ellipse(Rect{20, 10, 50, 44});
    const Point tri[] = {{40, 2}, {60, 30}, {35, 25}};
    c.Polygon(tri, 3);
    for (int x = 0; x < 64; x += 3) c.SetPixel({x, 46}, Rgb(28, 67, 255));
  };
  draw();
  EXPECT_NE(b, original);
  // Once: ~(src ^ dst) on the RGB bits.
  EXPECT_EQ(b.At(0, 46), ~(Rgb(28, 67, 255) ^ original.At(0, 46)) & 0xFFFFFF);
  draw();
  EXPECT_EQ(b, original);
}

TEST(PixelCanvasModes, ClipRectangleLimitsEveryPrimitive) {
  PixelBuffer b(30, 30, kWhite);
  PixelCanvas c(b);
  const Rect clip{5, 5, 15, 15};
  c.SetClipRect(&clip);
  c.FillRect(Rect{0, 0, 30, 30}, Brush::Solid(kBlue));
  c.SelectPen(Pen{PenStyle::kSolid, kRed});
  c.MoveTo({0, 10});
  c.LineTo({29, 10});
  c.SetPixel({2, 2}, kRed);
  EXPECT_EQ(PixelsOf(b, kBlue).size() + PixelsOf(b, kRed).size(), 100u);
  EXPECT_EQ(b.At(4, 10), kWhite);
  EXPECT_EQ(b.At(14, 10), kRed);
  EXPECT_EQ(b.At(15, 10), kWhite);
  c.SetClipRect(nullptr);
  c.SetPixel({2, 2}, kRed);
  EXPECT_EQ(b.At(2, 2), kRed);
  // Drawing off the surface is clipped, not a crash.
  c.MoveTo({-50, -50});
  c.LineTo({100, 100});
  c.FillRect(Rect{-10, -10, 5, 100}, Brush::Solid(kBlue));
  EXPECT_EQ(b.At(29, 29), kRed);
  EXPECT_EQ(b.At(0, 29), kBlue);
}

TEST(PixelCanvasModes, TopByteIsWrittenInCopyModeAndKeptByNotXor) {
  PixelBuffer b(4, 1, 0xAB000000u);
  PixelCanvas c(b, 0xFF);
  c.SetPixel({0, 0}, kRed);
  EXPECT_EQ(b.Data()[0], 0xFFFF0000u);
  c.SetRasterMode(RasterMode::kNotXorPen);
  c.SetPixel({1, 0}, Rgb(0, 0, 0));
  EXPECT_EQ(b.Data()[1], 0xABFFFFFFu);
  EXPECT_EQ(c.GetPixel(1, 0), 0xFFFFFFu);
  EXPECT_EQ(c.GetPixel(9, 0), 0u);
}

}  // namespace
}  // namespace parlex
