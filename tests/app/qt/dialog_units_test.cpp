#include "app/qt/dialog_units.h"

#include <gtest/gtest.h>

namespace parlex::app {
namespace {

TEST(DialogUnits, AverageWidthIsHalvedRoundingUp) {
  // Width of the 52-letter sample: /26 is twice the average width.
  EXPECT_EQ(BaseUnitsFromFont(285, 13).cx, 5);  // 10 -> 5
  EXPECT_EQ(BaseUnitsFromFont(286, 13).cx, 6);  // 11 -> 6
  EXPECT_EQ(BaseUnitsFromFont(337, 13).cx, 6);  // 12 -> 6
  EXPECT_EQ(BaseUnitsFromFont(338, 13).cx, 7);  // 13 -> 7
  EXPECT_EQ(BaseUnitsFromFont(338, 13).cy, 13);
  EXPECT_EQ(BaseUnitsFromFont(0, 0).cx, 0);
}

TEST(DialogUnits, MainWindowLayoutAtCommonDialogFonts) {
  // The shell dialog font at 96 dpi has base units 6 x 13; at 120 dpi 7 x 16.
  EXPECT_EQ(DialogUnitsToPixels(187, 133, DialogBaseUnits{6, 13}), (PixelSize{281, 216}));
  EXPECT_EQ(DialogUnitsToPixels(187, 133, DialogBaseUnits{7, 16}), (PixelSize{327, 266}));
  // The layout's 4 x 8 units are exactly one character cell.
  EXPECT_EQ(DialogUnitsToPixels(4, 8, DialogBaseUnits{9, 17}), (PixelSize{9, 17}));
}

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDivRound(3, 1, 2), 2);
  EXPECT_EQ(MulDivRound(5, 1, 4), 1);
  EXPECT_EQ(MulDivRound(-3, 1, 2), -2);
  EXPECT_EQ(MulDivRound(3, -1, 2), -2);
  EXPECT_EQ(MulDivRound(3, 1, -2), -2);
  EXPECT_EQ(MulDivRound(-3, -1, -2), -2);
  EXPECT_EQ(MulDivRound(-5, 1, 4), -1);
  // The product does not wrap in 32 bits.
  EXPECT_EQ(MulDivRound(100000, 100000, 100000), 100000);
  EXPECT_EQ(MulDivRound(7, 9, 0), -1);
}

}  // namespace
}  // namespace parlex::app
