#include <gtest/gtest.h>

#include "capture/ax_tracker.h"
#include "capture/pixel_canvas.h"

namespace parlex {
namespace {

using CLine = CAxTracker::CLine;
using CLineColl = CAxTracker::CLineColl;

constexpr Color kWhite = 0xFFFFFF;
constexpr Color kGuide = Rgb(254, 91, 14);

// A white surface in not-xor mode, as the drag loop keeps it: a guide pixel
// comes out in the guide colour, the gaps of the dotted pen (opaque white)
// leave the pixel as it was.
struct Surface {
  PixelBuffer buffer{400, 120, kWhite};
  PixelCanvas canvas{buffer};
  Surface() { canvas.SetRasterMode(RasterMode::kNotXorPen); }

  // The guide pixels on row y, as '#' and '.', from x0 to x1 inclusive.
  std::string Row(int y, int x0, int x1) const {
    std::string s;
    for (int x = x0; x <= x1; ++x)
      s += buffer.At(x, y) == kGuide ? '#' : buffer.At(x, y) == kWhite ? '.' : '?';
    return s;
  }
  bool Blank() const { return buffer == PixelBuffer(400, 120, kWhite); }
};

TEST(LineColl, AnEmptyCollectionDrawsNothingButCreatesItsPen) {
  Surface s;
  CLineColl lines;
  EXPECT_FALSE(lines.HasPen());
  lines.Draw(s.canvas);
  EXPECT_TRUE(lines.HasPen());
  EXPECT_EQ(*lines.pen, (Pen{PenStyle::kDot, kGuide}));
  EXPECT_TRUE(s.Blank());
}

TEST(LineColl, LinesAreDottedAndADrawingIsRemovedByDrawingItAgain) {
  Surface s;
  CLineColl lines;
  lines.AddLine(10, 50, 30, 50, 0);
  ASSERT_EQ(lines.lines.size(), 1u);
  EXPECT_EQ(lines.lines[0], (CLine{10, 50, 30, 50, 0, 0, 0}));
  lines.Draw(s.canvas);
  EXPECT_EQ(s.Row(50, 10, 30), "###...###...###...##.");
  lines.Draw(s.canvas);
  EXPECT_TRUE(s.Blank());
}

TEST(LineColl, OffsetMovesLeftAndRightEndsWithTheExtension) {
  Surface s;
  CLineColl lines;
  lines.AddLine(300, 50, 100, 50, CLine::sideLeft);
  lines.AddLine(20, 60, 200, 60, CLine::sideRight);
  lines.Draw(s.canvas);
  const PixelBuffer atStart = s.buffer;
  EXPECT_EQ(s.Row(50, 98, 102), "...##");  // ends before (100, 50)... pattern from x = 300

  lines.Offset(s.canvas, 8, 0);
  EXPECT_EQ(lines.lines[0].dx, 8);
  EXPECT_EQ(lines.lines[0].dy, 0);
  // The left line now reaches (93, 50), its end (92, 50) left out (the
  // pattern counts from x = 300: 93 falls in a gap, 94 to 96 are on); the
  // right line reaches (207, 60).
  EXPECT_EQ(s.Row(50, 92, 97), "..###.");
  EXPECT_EQ(s.Row(60, 200, 208), "###...##.");  // run from x = 20: 180 = 30 runs of 6
  lines.Offset(s.canvas, -8, 0);
  EXPECT_EQ(s.buffer, atStart);
  lines.Draw(s.canvas);
  EXPECT_TRUE(s.Blank());
}

TEST(LineColl, TopAndBottomLinesHideWhileAHorizontalOffsetIsInForce) {
  Surface s;
  CLineColl lines;
  lines.AddLine(50, 10, 50, 40, CLine::sideTop);
  lines.AddLine(60, 100, 60, 80, CLine::sideBottom);
  lines.Draw(s.canvas);
  EXPECT_FALSE(s.Blank());
  lines.Offset(s.canvas, 8, 0);
  EXPECT_TRUE(s.Blank());  // removed and not drawn again
  lines.Offset(s.canvas, 0, 5);
  EXPECT_TRUE(s.Blank());  // whatever the vertical offset
  lines.Offset(s.canvas, -8, -5);
  lines.Draw(s.canvas);
  EXPECT_TRUE(s.Blank());

  // The vertical offset moves top ends up and bottom ends down, and hides
  // left and right lines.
  CLineColl v;
  v.AddLine(50, 40, 50, 10, CLine::sideTop);
  v.AddLine(70, 5, 150, 5, CLine::sideLeft);
  v.Draw(s.canvas);
  v.Offset(s.canvas, 0, 4);
  // Before, the top line stopped at y = 11; now it runs from 40 up to 7
  // (counted from y = 40: 10 to 8 are on, 7 is in a gap).
  std::string column;
  for (int y = 6; y <= 11; ++y) column += s.buffer.At(50, y) == kGuide ? '#' : '.';
  EXPECT_EQ(column, "..###.");
  EXPECT_EQ(s.Row(5, 70, 75), "......");
}

TEST(LineColl, ALineOfNoSideIsAlwaysDrawnAsItWasAdded) {
  Surface plain, offset;
  CLineColl a, b;
  a.AddLine(5, 5, 60, 33, 0);
  b.AddLine(5, 5, 60, 33, 0);
  b.AddLine(5, 90, 40, 90, 16);  // any other value: never moved or hidden
  a.AddLine(5, 90, 40, 90, 16);
  a.Draw(plain.canvas);
  b.Draw(offset.canvas);
  b.Offset(offset.canvas, 8, 3);
  EXPECT_EQ(plain.buffer, offset.buffer);
  EXPECT_EQ(b.lines[0].dx, 8);
  EXPECT_EQ(b.lines[0].dy, 3);
}

TEST(LineColl, SwapExchangesLinesAndKeepsPensClearDropsBoth) {
  Surface s;
  CLineColl shown, fresh;
  shown.Draw(s.canvas);  // creates shown's pen
  fresh.AddLine(1, 2, 3, 4, CLine::sideRight);
  shown.Swap(fresh);
  EXPECT_EQ(shown.lines.size(), 1u);
  EXPECT_TRUE(fresh.lines.empty());
  EXPECT_TRUE(shown.HasPen());
  EXPECT_FALSE(fresh.HasPen());
  shown.Clear();
  EXPECT_FALSE(shown.HasPen());
  EXPECT_TRUE(shown.lines.empty());
}

}  // namespace
}  // namespace parlex
