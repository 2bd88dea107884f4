// The program's text is char16_t; the Windows API's is wchar_t. Both are
// 16-bit UTF-16 units on Windows, so conversion is a reinterpretation.
#pragma once

#include <string>
#include <string_view>

namespace parlex::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be a UTF-16 unit");

inline const wchar_t* AsWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* AsWide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const char16_t* AsU16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }
inline char16_t* AsU16(wchar_t* text) { return reinterpret_cast<char16_t*>(text); }

inline std::wstring ToWide(std::u16string_view text) {
  return std::wstring(AsWide(text.data()), text.size());
}
inline std::u16string FromWide(std::wstring_view text) {
  return std::u16string(AsU16(text.data()), text.size());
}

}  // namespace parlex::win32
