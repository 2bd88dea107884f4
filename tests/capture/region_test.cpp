#include "capture/region.h"

#include <gtest/gtest.h>

namespace parlex {
namespace {

TEST(Region, RectangleRegionsReadCornersLikeCreateRectRgn) {
  EXPECT_EQ(Region(Rect{10, 0, 4, 5}).Rects(), (std::vector<Rect>{{4, 0, 10, 5}}));
  EXPECT_TRUE(Region(Rect{4, 0, 4, 5}).IsEmpty());
  EXPECT_TRUE(Region(Rect{0, 3, 9, 3}).IsEmpty());
  EXPECT_TRUE(Region().IsEmpty());
  EXPECT_EQ(Region().Bounds(), (Rect{0, 0, 0, 0}));
}

TEST(Region, UnionSubtractAndIntersectGiveCanonicalBands) {
  // Two overlapping squares: three bands, the middle one merged into one span.
  Region r(Rect{0, 0, 10, 10});
  r.Union(Region(Rect{5, 5, 15, 15}));
  EXPECT_EQ(r.Rects(), (std::vector<Rect>{{0, 0, 10, 5}, {0, 5, 15, 10}, {5, 10, 15, 15}}));
  EXPECT_EQ(r.Area(), 100 + 100 - 25);
  EXPECT_EQ(r.Bounds(), (Rect{0, 0, 15, 15}));
  EXPECT_TRUE(r.Contains(Point{14, 14}));
  EXPECT_FALSE(r.Contains(Point{14, 4}));
  EXPECT_FALSE(r.Contains(Point{15, 10}));  // right and bottom are outside

  // A ring: the hole leaves a top band, two side spans and a bottom band.
  Region ring(Rect{0, 0, 10, 10});
  ring.Subtract(Region(Rect{2, 2, 8, 8}));
  EXPECT_EQ(ring.Rects(), (std::vector<Rect>{{0, 0, 10, 2}, {0, 2, 2, 8}, {8, 2, 10, 8}, {0, 8, 10, 10}}));
  EXPECT_EQ(ring.Area(), 100 - 36);

  Region both(Rect{0, 0, 10, 10});
  both.Intersect(Region(Rect{5, -5, 20, 5}));
  EXPECT_EQ(both.Rects(), (std::vector<Rect>{{5, 0, 10, 5}}));
}

TEST(Region, EqualPixelSetsCompareEqualHoweverBuilt) {
  Region a;
  a.Union(Region(Rect{0, 0, 5, 10})).Union(Region(Rect{5, 0, 10, 10}));
  Region b(Rect{0, 0, 10, 4});
  b.Union(Region(Rect{0, 4, 10, 10}));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.Rects().size(), 1u);

  Region gone(Rect{0, 0, 10, 10});
  gone.Subtract(Region(Rect{-1, -1, 11, 11}));
  EXPECT_TRUE(gone.IsEmpty());
  EXPECT_EQ(gone, Region());
}

}  // namespace
}  // namespace parlex
