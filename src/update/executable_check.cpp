#include "update/executable_check.h"

#include <cstddef>
#include <cstdint>

namespace parlex::update {

namespace {

// Reads little- or big-endian integers at an offset; out of range reads
// make the whole check fail.
class Reader {
 public:
  Reader(std::string_view bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}

  bool Ok() const { return ok_; }
  uint64_t Size() const { return bytes_.size(); }

  uint64_t U(uint64_t offset, int width) {
    if (!ok_ || offset > bytes_.size() || static_cast<uint64_t>(width) > bytes_.size() - offset) {
      ok_ = false;
      return 0;
    }
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) {
      uint64_t byte =
          static_cast<unsigned char>(bytes_[offset + static_cast<uint64_t>(big_ ? i : width - 1 - i)]);
      value = (value << 8) | byte;
    }
    return value;
  }

  // [offset, offset + count * size) lies within the bytes, without overflow.
  bool Within(uint64_t offset, uint64_t count, uint64_t size) const {
    if (size != 0 && count > UINT64_MAX / size) return false;
    uint64_t length = count * size;
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }

 private:
  std::string_view bytes_;
  bool big_;
  bool ok_ = true;
};

bool IsWholeElf(std::string_view bytes) {
  if (bytes.size() < 16) return false;
  const int elfClass = static_cast<unsigned char>(bytes[4]);  // 1: 32-bit, 2: 64-bit
  const int data = static_cast<unsigned char>(bytes[5]);      // 1: little-endian, 2: big-endian
  if ((elfClass != 1 && elfClass != 2) || (data != 1 && data != 2)) return false;
  const bool wide = elfClass == 2;
  const int word = wide ? 8 : 4;
  Reader r(bytes, data == 2);

  const uint64_t type = r.U(16, 2);
  if (type != 2 && type != 3) return false;  // ET_EXEC, ET_DYN
  const uint64_t phoff = r.U(wide ? 32 : 28, word);
  const uint64_t shoff = r.U(wide ? 40 : 32, word);
  const uint64_t phentsize = r.U(wide ? 54 : 42, 2);
  const uint64_t phnum = r.U(wide ? 56 : 44, 2);
  const uint64_t shentsize = r.U(wide ? 58 : 46, 2);
  const uint64_t shnum = r.U(wide ? 60 : 48, 2);
  const uint64_t shstrndx = r.U(wide ? 62 : 50, 2);
  if (!r.Ok()) return false;

  // A program has segments to load.
  const uint64_t minPhent = wide ? 56 : 32;
  if (phnum == 0 || phentsize < minPhent || !r.Within(phoff, phnum, phentsize)) return false;
  for (uint64_t i = 0; i < phnum; ++i) {
    const uint64_t at = phoff + i * phentsize;
    const uint64_t offset = r.U(at + (wide ? 8 : 4), word);
    const uint64_t fileSize = r.U(at + (wide ? 32 : 16), word);
    if (!r.Ok() || !r.Within(offset, 1, fileSize)) return false;
  }

  // The section headers usually come last: a cut or zero-filled tail shows here.
  if (shnum == 0) return true;
  const uint64_t minShent = wide ? 64 : 40;
  if (shentsize < minShent || !r.Within(shoff, shnum, shentsize) || shstrndx >= shnum) return false;
  for (uint64_t i = 0; i < shnum; ++i) {
    const uint64_t at = shoff + i * shentsize;
    const uint64_t sectionType = r.U(at + 4, 4);
    const uint64_t offset = r.U(at + (wide ? 24 : 16), word);
    const uint64_t size = r.U(at + (wide ? 32 : 20), word);
    if (!r.Ok()) return false;
    if (i == shstrndx && sectionType != 3) return false;               // SHT_STRTAB
    if (sectionType != 8 && !r.Within(offset, 1, size)) return false;  // SHT_NOBITS holds no bytes
  }
  return true;
}

bool IsWholePe(std::string_view bytes) {
  Reader r(bytes, false);
  const uint64_t peOffset = r.U(0x3C, 4);
  if (!r.Ok() || !r.Within(peOffset, 1, 24) || bytes.substr(peOffset, 4) != std::string_view("PE\0\0", 4)) {
    return false;
  }
  const uint64_t coff = peOffset + 4;
  const uint64_t sections = r.U(coff + 2, 2);
  const uint64_t symbolTable = r.U(coff + 8, 4);
  const uint64_t symbols = r.U(coff + 12, 4);
  const uint64_t optionalSize = r.U(coff + 16, 2);
  if (!r.Ok() || sections == 0) return false;
  const uint64_t optional = coff + 20;
  if (!r.Within(optional, 1, optionalSize) || optionalSize < 64) return false;
  const uint64_t sizeOfHeaders = r.U(optional + 60, 4);
  if (!r.Ok() || sizeOfHeaders > r.Size()) return false;
  const uint64_t table = optional + optionalSize;
  if (!r.Within(table, sections, 40)) return false;
  for (uint64_t i = 0; i < sections; ++i) {
    const uint64_t at = table + i * 40;
    const uint64_t rawSize = r.U(at + 16, 4);
    const uint64_t rawPointer = r.U(at + 20, 4);
    if (!r.Ok()) return false;
    if (rawSize != 0 && !r.Within(rawPointer, 1, rawSize)) return false;
  }
  if (symbolTable != 0) {
    // 18 bytes a symbol, then the string table's 4-byte size.
    if (!r.Within(symbolTable, symbols, 18) || !r.Within(symbolTable + symbols * 18, 1, 4)) return false;
    const uint64_t strings = r.U(symbolTable + symbols * 18, 4);
    if (!r.Ok() || !r.Within(symbolTable + symbols * 18, 1, strings)) return false;
  }
  return true;
}

}  // namespace

bool IsWholeExecutable(std::string_view bytes) {
  if (bytes.substr(0, 4) == std::string_view("\x7f"
                                             "ELF",
                                             4)) {
    return IsWholeElf(bytes);
  }
  if (bytes.substr(0, 2) == "MZ") return IsWholePe(bytes);
  return false;
}

}  // namespace parlex::update
