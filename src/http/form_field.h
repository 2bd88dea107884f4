// One field of a form POST.
#pragma once

#include <cstdint>
#include <string>

namespace parlex {

inline constexpr int32_t fieldPlain = 1;  // value is sent as text
inline constexpr int32_t fieldFile = 2;   // value names a file whose content is sent

// Longest name and value a field takes, in UTF-16 units (the terminator of
// the fixed texts they stand for is not counted).
inline constexpr size_t kMaxFieldNameUnits = 255;
inline constexpr size_t kMaxFieldValueUnits = 1023;

struct FormField {
  std::u16string name;
  std::u16string value;
  int32_t kind = fieldPlain;
};

}  // namespace parlex
