#include "common/text.h"

namespace parlex {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Length of the UTF-8 sequence a lead byte announces, 0 for a bad lead.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      AppendUtf8(out, c);
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    auto lead = static_cast<unsigned char>(bytes[i]);
    size_t len = SequenceLength(lead);
    if (len == 0 || i + len > bytes.size()) {
      AppendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    if (len == 1) {
      out.push_back(lead);
      ++i;
      continue;
    }
    char32_t c = lead & (0xFF >> (len + 1));
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      auto b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (b & 0x3F);
    }
    // Reject overlong forms, surrogates and values past U+10FFFF.
    if (ok && ((len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
               (c >= 0xD800 && c <= 0xDFFF))) {
      ok = false;
    }
    if (!ok) {
      AppendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    AppendUtf16(out, c);
    i += len;
  }
  return out;
}

std::u16string Widen(std::string_view ascii) {
  std::u16string out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<unsigned char>(c));
  return out;
}

std::u16string FormatDecimal(int32_t value) {
  // Work in 64 bits so INT32_MIN has a positive magnitude.
  int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v != 0);
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

std::u16string_view CutAtUnits(std::u16string_view text, size_t maxUnits) {
  if (text.size() <= maxUnits) return text;
  size_t n = maxUnits;
  if (n > 0 && IsHighSurrogate(text[n - 1])) --n;
  return text.substr(0, n);
}

std::string_view CutUtf8AtBytes(std::string_view bytes, size_t maxBytes) {
  if (bytes.size() <= maxBytes) return bytes;
  size_t n = maxBytes;
  // Step back over continuation bytes to the lead of the last sequence; keep
  // it only if the whole sequence fits.
  size_t lead = n;
  while (lead > 0 && (static_cast<unsigned char>(bytes[lead - 1]) & 0xC0) == 0x80 && n - lead < 3) --lead;
  if (lead > 0) {
    size_t len = SequenceLength(static_cast<unsigned char>(bytes[lead - 1]));
    if (len > 1 && lead - 1 + len > n) n = lead - 1;
  }
  return bytes.substr(0, n);
}

namespace {

template <typename Char>
Char LowerLetter(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename View>
bool SameIgnoringCase(View a, View b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerLetter(a[i]) != LowerLetter(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerLetter(c);
  return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) { return SameIgnoringCase(a, b); }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) { return SameIgnoringCase(a, b); }

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace parlex
