#include "capture/ax_tracker.h"

#include <gtest/gtest.h>

#include "capture/pixel_canvas.h"
#include "tracker_fakes.h"

namespace parlex {
namespace {

using testing::RecordingOwner;
using testing::ScriptedHost;

constexpr Color kGround = Rgb(128, 128, 128);
constexpr Color kCaption = Rgb(10, 36, 106);
constexpr Color kWindow = Rgb(250, 250, 240);
constexpr uint16_t kDialogStyle = 0x37FC;

struct Painted {
  PixelBuffer buffer{320, 240, kGround};
  CAxTracker tracker{nullptr, 6, 300, 'Q', 'W', 'E'};
  RecordingOwner owner;

  explicit Painted(uint16_t style, Rect selection = Rect{100, 100, 200, 160}) {
    tracker.colors = CAxTracker::SystemColors{kCaption, kWindow};
    tracker.SetEvents(&owner);
    tracker.style = style;
    owner.rect = selection;
    PixelCanvas canvas(buffer);
    tracker.Draw(canvas);
  }
  Color At(int x, int y) const { return buffer.At(x, y); }
};

TEST(AxTrackerConstruction, StartsEmptyAndAnEmptyRectangleHitsNothing) {
  CAxTracker t(nullptr, 6, 300, 0x51, 0x57, 0x45);
  EXPECT_EQ(t.style, 0x07FE);
  EXPECT_EQ(t.rect, (Rect{0, 0, 0, 0}));
  EXPECT_EQ(t.handleSize, 6);
  EXPECT_EQ(t.feedbackDelay, 300);
  EXPECT_EQ(t.keyExtendX, 0x51u);
  EXPECT_EQ(t.keyShrink, 0x45u);
  EXPECT_EQ(t.HitTest(Point{0, 0}), CAxTracker::hitNone);
  EXPECT_FALSE(t.GetRegion(0x1F).has_value());
  EXPECT_FALSE(t.GetRegion(0x0F).has_value());
  EXPECT_FALSE(t.GetRegion(0x03).has_value());
  ScriptedHost window;
  EXPECT_FALSE(t.OnSetCursor(window, 1));
  EXPECT_TRUE(window.cursors.empty());

  RecordingOwner a, b;
  EXPECT_EQ(t.SetEvents(&a), nullptr);
  EXPECT_EQ(t.SetEvents(&b), &a);
}

TEST(AxTrackerCaptureDialogStyle, DrawsLineFrameAndHandlesAcrossTheEdge) {
  Painted p(kDialogStyle);
  EXPECT_EQ(p.tracker.rect, (Rect{98, 98, 202, 162}));
  EXPECT_EQ(p.owner.log, (std::vector<std::string>{"GetRect"}));
  // The line frame runs through the selection's edges, right and bottom included.
  EXPECT_EQ(p.At(120, 100), kCaption);
  EXPECT_EQ(p.At(200, 130), kCaption);
  EXPECT_EQ(p.At(120, 160), kCaption);
  EXPECT_EQ(p.At(100, 130), kCaption);
  EXPECT_EQ(p.At(120, 101), kGround);
  EXPECT_EQ(p.At(120, 99), kGround);  // no band
  // Top-left handle: 2 outside, 4 inside.
  EXPECT_EQ(p.At(98, 98), kCaption);
  EXPECT_EQ(p.At(103, 103), kCaption);
  EXPECT_EQ(p.At(97, 98), kGround);
  EXPECT_EQ(p.At(104, 104), kGround);
  // Bottom-right handle [196, 202) x [156, 162).
  EXPECT_EQ(p.At(201, 161), kCaption);
  EXPECT_EQ(p.At(196, 156), kCaption);
  EXPECT_EQ(p.At(202, 161), kGround);
  // Top handle spans x 147 to 152.
  EXPECT_EQ(p.At(147, 98), kCaption);
  EXPECT_EQ(p.At(152, 103), kCaption);
  EXPECT_EQ(p.At(146, 98), kGround);
  EXPECT_EQ(p.At(153, 98), kGround);
  // Left handle at cy = 130: rows 127 to 132.
  EXPECT_EQ(p.At(98, 127), kCaption);
  EXPECT_EQ(p.At(98, 133), kGround);
  EXPECT_EQ(p.At(150, 130), kGround);  // the inside is not painted
}

TEST(AxTrackerCaptureDialogStyle, HitCodesOfTheEdgeCases) {
  Painted p(kDialogStyle);
  const CAxTracker& t = p.tracker;
  EXPECT_EQ(t.HitTest({99, 99}), CAxTracker::hitTopLeft);
  EXPECT_EQ(t.HitTest({150, 99}), CAxTracker::hitTop);
  EXPECT_EQ(t.HitTest({147, 99}), CAxTracker::hitTop);
  EXPECT_EQ(t.HitTest({150, 130}), CAxTracker::hitInside);
  EXPECT_EQ(t.HitTest({120, 99}), CAxTracker::hitNone);  // band without a band style
  EXPECT_EQ(t.HitTest({201, 161}), CAxTracker::hitBottomRight);
  EXPECT_EQ(t.HitTest({202, 130}), CAxTracker::hitNone);  // right boundary is outside
  EXPECT_EQ(t.HitTest({150, 162}), CAxTracker::hitNone);  // bottom boundary is outside
  EXPECT_EQ(t.HitTest({98, 130}), CAxTracker::hitLeft);
  EXPECT_EQ(t.HitTest({201, 127}), CAxTracker::hitRight);
  EXPECT_EQ(t.HitTest({150, 157}), CAxTracker::hitBottom);
  EXPECT_EQ(t.HitTest({201, 98}), CAxTracker::hitTopRight);
  EXPECT_EQ(t.HitTest({98, 161}), CAxTracker::hitBottomLeft);
  EXPECT_EQ(t.CursorFromHit(CAxTracker::hitNone), -1);
}

TEST(AxTrackerCaptureDialogStyle, SetsTheCursorOfThePartUnderTheMouse) {
  Painted p(kDialogStyle);
  ScriptedHost window;
  struct Case {
    Point at;
    int cursor;
  } cases[] = {{{150, 130}, 4}, {{99, 99}, 0},   {{201, 161}, 0}, {{201, 99}, 1}, {{99, 161}, 1},
               {{150, 99}, 2},  {{150, 160}, 2}, {{99, 130}, 3},  {{201, 130}, 3}};
  for (const Case& c : cases) {
    window.cursorPos = c.at;
    window.cursors.clear();
    EXPECT_TRUE(p.tracker.OnSetCursor(window, 1)) << c.at.x << "," << c.at.y;
    EXPECT_EQ(window.cursors, std::vector<int>{c.cursor}) << c.at.x << "," << c.at.y;
  }
  window.cursors.clear();
  window.cursorPos = Point{120, 99};  // between handles: the platform's cursor
  EXPECT_FALSE(p.tracker.OnSetCursor(window, 1));
  window.cursorPos = Point{150, 130};
  EXPECT_FALSE(p.tracker.OnSetCursor(window, 2));  // not the client area
  EXPECT_TRUE(window.cursors.empty());
}

TEST(AxTrackerDefaultStyle, SolidBandWithDotsAndHandlesOutside) {
  Painted p(CAxTracker::kDefaultStyle);
  EXPECT_EQ(p.tracker.rect, (Rect{94, 94, 206, 166}));
  // Band in the window colour, with the gap for the top handle.
  EXPECT_EQ(p.At(120, 97), kWindow);
  EXPECT_EQ(p.At(102, 94), kWindow);
  EXPECT_EQ(p.At(160, 165), kWindow);
  EXPECT_EQ(p.At(95, 120), kWindow);
  EXPECT_EQ(p.At(205, 140), kWindow);
  EXPECT_EQ(p.At(100, 100), kGround);  // no line frame
  // Handles outside the rectangle, filled.
  EXPECT_EQ(p.At(94, 94), kCaption);
  EXPECT_EQ(p.At(99, 99), kCaption);
  EXPECT_EQ(p.At(200, 160), kCaption);
  EXPECT_EQ(p.At(147, 94), kCaption);  // top handle, cx - h2 = 147
  EXPECT_EQ(p.At(152, 99), kCaption);
  // Outer dots on the band: rows T-2 and T-4 (x+1, x+3), B+2, B+4.
  EXPECT_EQ(p.At(101, 98), kCaption);
  EXPECT_EQ(p.At(105, 98), kCaption);
  EXPECT_EQ(p.At(103, 96), kCaption);
  EXPECT_EQ(p.At(102, 98), kWindow);
  EXPECT_EQ(p.At(101, 96), kWindow);
  EXPECT_EQ(p.At(101, 162), kCaption);
  EXPECT_EQ(p.At(103, 164), kCaption);
  // Columns L-i and R+i-1: odd i on row y, even i on row y+4.
  EXPECT_EQ(p.At(98, 104), kCaption);
  EXPECT_EQ(p.At(97, 100), kCaption);
  EXPECT_EQ(p.At(96, 104), kCaption);
  EXPECT_EQ(p.At(95, 100), kCaption);
  EXPECT_EQ(p.At(97, 104), kWindow);
  EXPECT_EQ(p.At(201, 104), kCaption);
  EXPECT_EQ(p.At(202, 100), kCaption);
  EXPECT_EQ(p.At(98, 112), kCaption);  // next group, 8 rows down

  EXPECT_EQ(p.tracker.HitTest({120, 97}), CAxTracker::hitBorder);
  EXPECT_EQ(p.tracker.HitTest({97, 97}), CAxTracker::hitTopLeft);
  EXPECT_EQ(p.tracker.HitTest({130, 130}), CAxTracker::hitInside);
  EXPECT_EQ(p.tracker.CursorFromHit(CAxTracker::hitBorder), 4);
}

TEST(AxTrackerOtherStyles, HatchedBandIsClosedByAnOuterLineAndTiledFromTheOrigin) {
  Painted p(0x07FD);  // hatched band, movable, all handles, handles outside
  EXPECT_EQ(p.tracker.rect, (Rect{94, 94, 206, 166}));
  EXPECT_EQ(p.At(120, 94), kCaption);   // outer frame line at T - h
  EXPECT_EQ(p.At(205, 120), kCaption);  // and at R + h - 1
  // The band of width 5 holds the hatch: frame colour where x + y = 1 mod 4.
  for (int y = 95; y < 100; ++y)
    for (int x = 110; x < 130; ++x)
      ASSERT_EQ(p.At(x, y), (x + y) % 4 == 1 ? kCaption : kWindow) << x << "," << y;
  EXPECT_EQ(p.tracker.HitTest({120, 96}), CAxTracker::hitBorder);

  auto hatch = CAxTracker::MakeHatchPattern(CAxTracker::SystemColors{kCaption, kWindow});
  ASSERT_EQ(hatch->width, 4);
  ASSERT_EQ(hatch->height, 4);
  EXPECT_EQ(hatch->At(0, 1), kCaption);
  EXPECT_EQ(hatch->At(1, 0), kCaption);
  EXPECT_EQ(hatch->At(2, 3), kCaption);
  EXPECT_EQ(hatch->At(3, 2), kCaption);
  EXPECT_EQ(hatch->At(0, 0), kWindow);
  EXPECT_EQ(hatch->At(1, 1), kWindow);
}

TEST(AxTrackerOtherStyles, DisabledHandlesAreOutlinedHitButGiveNoCursor) {
  // Capture dialog style without the top handle: only its outline.
  Painted p(kDialogStyle & ~CAxTracker::tsHandleTop);
  EXPECT_EQ(p.At(147, 98), kCaption);
  EXPECT_EQ(p.At(152, 103), kCaption);
  EXPECT_EQ(p.At(149, 99), kGround);
  EXPECT_EQ(p.At(149, 102), kGround);
  EXPECT_EQ(p.At(149, 100), kCaption);  // the line frame passes through it
  EXPECT_EQ(p.tracker.HitTest({150, 99}), CAxTracker::hitTop);
  EXPECT_EQ(p.tracker.CursorFromHit(CAxTracker::hitTop), -1);
  ScriptedHost window;
  window.cursorPos = Point{150, 99};
  EXPECT_FALSE(p.tracker.OnSetCursor(window, 1));

  // With a band, a disabled handle is filled in the band colour.
  Painted q(CAxTracker::kDefaultStyle & ~CAxTracker::tsHandleTopLeft);
  EXPECT_EQ(q.At(94, 94), kCaption);
  EXPECT_EQ(q.At(96, 96), kWindow);
  EXPECT_EQ(q.At(99, 99), kCaption);

  // Without tsMovable neither the inside nor the band has a cursor.
  Painted r(CAxTracker::kDefaultStyle & ~CAxTracker::tsMovable);
  EXPECT_EQ(r.tracker.CursorFromHit(r.tracker.HitTest({130, 130})), -1);
  EXPECT_EQ(r.tracker.CursorFromHit(r.tracker.HitTest({120, 97})), -1);
}

TEST(AxTrackerOtherStyles, HandlesInsideStayWithinTheSelection) {
  Painted p(0x0800 | 0x07FC);
  EXPECT_EQ(p.tracker.rect, (Rect{100, 100, 200, 160}));
  EXPECT_EQ(p.At(100, 100), kCaption);
  EXPECT_EQ(p.At(105, 105), kCaption);
  EXPECT_EQ(p.At(106, 106), kGround);
  EXPECT_EQ(p.At(99, 99), kGround);
  EXPECT_EQ(p.At(199, 159), kCaption);
}

TEST(AxTrackerRegions, TheThreeFormsOnTheTrackerRectangle) {
  Painted p(kDialogStyle);  // rect (98, 98, 202, 162), h = 6
  const Rect r{98, 98, 202, 162};
  auto whole = p.tracker.GetRegion(0x1F);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(*whole, Region(r));

  auto ring = p.tracker.GetRegion(0x0F);
  ASSERT_TRUE(ring.has_value());
  EXPECT_EQ(ring->Area(), 104LL * 64 - 92LL * 52);
  EXPECT_TRUE(ring->Contains({98, 98}));
  EXPECT_TRUE(ring->Contains({201, 161}));
  EXPECT_TRUE(ring->Contains({103, 130}));
  EXPECT_FALSE(ring->Contains({104, 130}));

  auto leftTop = p.tracker.GetRegion(0x03);
  ASSERT_TRUE(leftTop.has_value());
  Region expected(Rect{98, 98, 104, 162});
  expected.Union(Region(Rect{98, 98, 202, 104}));
  EXPECT_EQ(*leftTop, expected);

  auto rightBottom = p.tracker.GetRegion(0x0C);
  ASSERT_TRUE(rightBottom.has_value());
  EXPECT_TRUE(rightBottom->Contains({201, 99}));
  EXPECT_TRUE(rightBottom->Contains({99, 161}));
  EXPECT_FALSE(rightBottom->Contains({99, 99}));

  auto interiorOnly = p.tracker.GetRegion(0x10);
  ASSERT_TRUE(interiorOnly.has_value());  // a region, but an empty one
  EXPECT_TRUE(interiorOnly->IsEmpty());
}

TEST(AxTrackerRegions, AnInteriorWithCrossedEdgesIsReadInOrderLikeARectangleRegion) {
  // A rectangle smaller than two handles: the "interior" [L+h, R-h) has its
  // edges crossed, and a rectangle region puts them in order before the
  // subtraction, as the window system does.
  CAxTracker t;
  t.rect = Rect{0, 0, 8, 8};
  auto ring = t.GetRegion(0x0F);
  ASSERT_TRUE(ring.has_value());
  Region expected(Rect{0, 0, 8, 8});
  expected.Subtract(Region(Rect{2, 2, 6, 6}));
  EXPECT_EQ(*ring, expected);
}

TEST(AxTrackerWithoutOwner, DrawPaintsTheSameSelectionAgainInsteadOfGrowingIt) {
  PixelBuffer first(320, 240, kGround), second(320, 240, kGround);
  CAxTracker t;
  t.colors = CAxTracker::SystemColors{kCaption, kWindow};
  t.style = kDialogStyle;
  t.rect = Rect{100, 100, 200, 160};
  PixelCanvas c1(first);
  t.Draw(c1);
  EXPECT_EQ(t.rect, (Rect{98, 98, 202, 162}));
  PixelCanvas c2(second);
  t.Draw(c2);
  EXPECT_EQ(t.rect, (Rect{98, 98, 202, 162}));
  EXPECT_EQ(first, second);

  // A rectangle set anew is painted as it is.
  t.rect = Rect{10, 10, 50, 40};
  t.Draw(c2);
  EXPECT_EQ(t.rect, (Rect{8, 8, 52, 42}));
  EXPECT_EQ(second.At(10, 10), kCaption);
}

TEST(AxTrackerWithOwner, EveryPaintAsksTheOwnerAndRestoresThePen) {
  PixelBuffer b(320, 240, kGround);
  PixelCanvas c(b);
  const Pen mine{PenStyle::kDot, Rgb(1, 2, 3)};
  c.SelectPen(mine);
  RecordingOwner owner;
  CAxTracker t(&owner);
  t.style = kDialogStyle;
  t.Draw(c);
  owner.rect = Rect{10, 20, 30, 40};
  t.Draw(c);
  EXPECT_EQ(owner.log, (std::vector<std::string>{"GetRect", "GetRect"}));
  EXPECT_EQ(t.rect, (Rect{8, 18, 32, 42}));
  EXPECT_EQ(c.SelectPen(mine), mine);
}

}  // namespace
}  // namespace parlex
