// Dialog units to pixels, the way dialog templates are laid out: a
// horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its height. Kept free of any toolkit so the
// Linux window comes out the same size as the template it mirrors.
#pragma once

#include <cstdint>

namespace parlex::app {

struct DialogBaseUnits {
  int32_t cx = 0;  // average character width in pixels
  int32_t cy = 0;  // character cell height in pixels
};

struct PixelSize {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const PixelSize&) const = default;
};

// The reference string whose measured width gives the average character
// width: all 52 Latin letters.
inline constexpr char16_t kAverageWidthSample[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Base units of a font from the pixel width of kAverageWidthSample and the
// font's cell height (ascent + descent). The width is halved with rounding
// up, exactly as the system computes it for dialog fonts.
DialogBaseUnits BaseUnitsFromFont(int32_t sampleWidth, int32_t fontHeight);

// a * b / c rounded to the nearest whole number, halves away from zero, with a
// 64-bit intermediate; c == 0 answers -1.
int32_t MulDivRound(int32_t a, int32_t b, int32_t c);

// Pixel size of a width and height given in dialog units.
PixelSize DialogUnitsToPixels(int32_t dluX, int32_t dluY, DialogBaseUnits base);

}  // namespace parlex::app
