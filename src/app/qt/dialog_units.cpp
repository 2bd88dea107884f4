#include "app/qt/dialog_units.h"

#include <cstdlib>

namespace parlex::app {

DialogBaseUnits BaseUnitsFromFont(int32_t sampleWidth, int32_t fontHeight) {
  // 52 letters: width / 26 is twice the average, then halve rounding up.
  DialogBaseUnits units;
  units.cx = (sampleWidth / 26 + 1) / 2;
  units.cy = fontHeight;
  return units;
}

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = std::llabs(product);
  const int64_t divisor = std::llabs(static_cast<int64_t>(c));
  const int64_t rounded = (magnitude + divisor / 2) / divisor;
  return static_cast<int32_t>(negative ? -rounded : rounded);
}

PixelSize DialogUnitsToPixels(int32_t dluX, int32_t dluY, DialogBaseUnits base) {
  return PixelSize{MulDivRound(dluX, base.cx, 4), MulDivRound(dluY, base.cy, 8)};
}

}  // namespace parlex::app
