#include "update/version_text.h"

#include <array>

#include "common/text.h"

namespace parlex::update {

namespace {

constexpr int32_t kGroupMax = 2147483647;

// Reads a version text into four numbers; false when it is not one.
bool ParseVersion(std::u16string_view text, std::array<int32_t, 4>& numbers) {
  numbers = {0, 0, 0, 0};
  size_t groups = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t dot = text.find(u'.', pos);
    if (dot == std::u16string_view::npos) dot = text.size();
    std::u16string_view group = text.substr(pos, dot - pos);
    pos = dot + 1;
    if (group.empty()) continue;  // leading, trailing and doubled dots add no group
    if (groups == numbers.size() || !IsDigitText(group)) return false;
    int64_t value = 0;
    for (char16_t c : group) {
      value = value * 10 + (c - u'0');
      if (value > kGroupMax) {
        value = kGroupMax;
        break;
      }
    }
    numbers[groups++] = static_cast<int32_t>(value);
  }
  return groups > 0;
}

}  // namespace

std::u16string OwnVersionText(const FileVersion& v) {
  std::u16string text;
  if (v.build != 0 || v.revision != 0) {
    text = FormatDecimal(v.major) + u"." + FormatDecimal(v.minor) + u"." + FormatDecimal(v.build) + u"." +
           FormatDecimal(v.revision);
  } else if (v.major != 0 || v.minor != 0) {
    text = FormatDecimal(v.major) + u"." + FormatDecimal(v.minor);
  }
  return text;
}

bool IsDigitText(std::u16string_view text) {
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

int CompareVersionText(std::u16string_view a, std::u16string_view b) {
  std::array<int32_t, 4> va{};
  std::array<int32_t, 4> vb{};
  if (!ParseVersion(a, va)) return -21;
  if (!ParseVersion(b, vb)) return -22;
  for (size_t i = 0; i < va.size(); ++i) {
    if (va[i] != vb[i]) return va[i] > vb[i] ? 1 : -1;
  }
  return 0;
}

}  // namespace parlex::update
