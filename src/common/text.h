// UTF-16 is the program's text; UTF-8 is what goes on the wire and to the
// file system on Linux. These conversions never throw and never split a
// character: malformed input becomes U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace parlex {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);

// Plain ASCII (or Latin-1) bytes widened unit by unit.
std::u16string Widen(std::string_view ascii);

// "%d" of a signed 32-bit number.
std::u16string FormatDecimal(int32_t value);

// The longest prefix of text that holds at most maxUnits UTF-16 units and
// does not end in the middle of a surrogate pair.
std::u16string_view CutAtUnits(std::u16string_view text, size_t maxUnits);

// The longest prefix of bytes that ends on a UTF-8 character boundary and
// holds at most maxBytes bytes.
std::string_view CutUtf8AtBytes(std::string_view bytes, size_t maxBytes);

// ASCII letters in lower case; every other byte as it is (protocol names,
// header names, file extensions).
std::string AsciiLower(std::string_view text);
// Whether a and b are equal when ASCII letters are compared without regard
// to case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);
// Whether text begins with prefix, ASCII letters compared without regard to case.
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

}  // namespace parlex
