// Version texts: the program's own file version as text and the comparison
// with the text the update server offers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace parlex::update {

// A file version: four 16-bit numbers, compared major first.
struct FileVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
  uint16_t revision = 0;
};

// "major.minor.build.revision" when build or revision is set, "major.minor"
// when only those are, and empty for 0.0.0.0 (which counts as no version).
std::u16string OwnVersionText(const FileVersion& version);

// True when every unit is an ASCII digit '0'..'9' (vacuously for "").
bool IsDigitText(std::u16string_view text);

// 1 when a is newer than b, 0 when equal, -1 when older; -21 when a is not a
// version text, -22 when b is not. A version text is 1 to 4 groups of digits
// separated by '.'; empty groups are skipped, missing groups are 0 and a
// group above 2147483647 counts as 2147483647.
int CompareVersionText(std::u16string_view a, std::u16string_view b);

}  // namespace parlex::update
