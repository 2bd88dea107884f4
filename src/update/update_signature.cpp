#include "update/update_signature.h"

namespace parlex::update {

namespace {

// Reads one DER INTEGER at pos into 32 big-endian bytes appended to out.
bool ReadInteger(std::string_view der, size_t& pos, std::string& out) {
  if (pos + 2 > der.size() || static_cast<unsigned char>(der[pos]) != 0x02) return false;
  size_t length = static_cast<unsigned char>(der[pos + 1]);
  pos += 2;
  // At most 33 bytes (a leading zero before a high bit): short form only.
  if (length == 0 || length > 33 || pos + length > der.size()) return false;
  std::string_view value = der.substr(pos, length);
  pos += length;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(value[i]); };
  if (byte(0) & 0x80) return false;                                         // negative
  if (value.size() > 1 && byte(0) == 0 && !(byte(1) & 0x80)) return false;  // not minimal
  if (byte(0) == 0) value.remove_prefix(1);
  if (value.size() > 32) return false;
  if (value.find_first_not_of('\0') == std::string_view::npos) return false;  // zero
  out.append(32 - value.size(), '\0');
  out.append(value);
  return true;
}

std::optional<std::string> FromDer(std::string_view served) {
  if (served.size() < 8 || served.size() > kMaxSignatureBytes) return std::nullopt;
  if (static_cast<unsigned char>(served[0]) != 0x30) return std::nullopt;
  size_t length = static_cast<unsigned char>(served[1]);
  if (length >= 0x80 || length + 2 != served.size()) return std::nullopt;
  std::string raw;
  size_t pos = 2;
  if (!ReadInteger(served, pos, raw) || !ReadInteger(served, pos, raw)) return std::nullopt;
  if (pos != served.size()) return std::nullopt;
  return raw;
}

}  // namespace

std::optional<std::string> RawSignature(std::string_view served) {
  if (std::optional<std::string> der = FromDer(served)) return der;
  // A DER signature can be 64 bytes long too; it was tried first. Raw bytes
  // that happen to form a valid DER signature are too unlikely to matter.
  if (served.size() == kRawSignatureBytes) return std::string(served);
  return std::nullopt;
}

bool IsUncompressedPoint(std::string_view point) {
  return point.size() == kPublicPointBytes && static_cast<unsigned char>(point[0]) == 0x04;
}

}  // namespace parlex::update
