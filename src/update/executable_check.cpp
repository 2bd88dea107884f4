#include "update/executable_check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace parlex::update {

namespace {

// Reads little- or big-endian integers at an offset; out of range or failed
// reads make the whole check fail. The headers and tables are read through a
// window of a few KiB, so a check costs a handful of reads of the file.
class Reader {
 public:
  Reader(IByteSource& bytes, bool bigEndian) : bytes_(bytes), size_(bytes.Size()), big_(bigEndian) {}

  bool Ok() const { return ok_; }
  uint64_t Size() const { return size_; }

  uint64_t U(uint64_t offset, int width) {
    const auto w = static_cast<uint64_t>(width);
    if (!ok_ || offset > size_ || w > size_ - offset || !Load(offset, w)) {
      ok_ = false;
      return 0;
    }
    const unsigned char* at = window_ + (offset - windowStart_);
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) value = (value << 8) | at[big_ ? i : width - 1 - i];
    return value;
  }

  // [offset, offset + count * size) lies within the bytes, without overflow.
  bool Within(uint64_t offset, uint64_t count, uint64_t size) const {
    if (size != 0 && count > UINT64_MAX / size) return false;
    uint64_t length = count * size;
    return offset <= size_ && length <= size_ - offset;
  }

 private:
  // Brings [offset, offset + width) into the window; width is at most 8.
  bool Load(uint64_t offset, uint64_t width) {
    if (windowLength_ > 0 && offset >= windowStart_ && offset + width <= windowStart_ + windowLength_) {
      return true;
    }
    windowLength_ = 0;
    const uint64_t length = size_ - offset < sizeof window_ ? size_ - offset : sizeof window_;
    if (!bytes_.ReadAt(offset, window_, static_cast<size_t>(length))) return false;
    windowStart_ = offset;
    windowLength_ = length;
    return true;
  }

  IByteSource& bytes_;
  uint64_t size_;
  bool big_;
  bool ok_ = true;
  unsigned char window_[4096];
  uint64_t windowStart_ = 0;
  uint64_t windowLength_ = 0;
};

class MemoryBytes final : public IByteSource {
 public:
  explicit MemoryBytes(std::string_view bytes) : bytes_(bytes) {}
  uint64_t Size() override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    std::memcpy(buffer, bytes_.data() + offset, length);
    return true;
  }

 private:
  std::string_view bytes_;
};

bool IsWholeElf(IByteSource& bytes) {
  Reader ident(bytes, false);
  const uint64_t elfClass = ident.U(4, 1);  // 1: 32-bit, 2: 64-bit
  const uint64_t data = ident.U(5, 1);      // 1: little-endian, 2: big-endian
  if (!ident.Ok() || ident.Size() < 16 || (elfClass != 1 && elfClass != 2) || (data != 1 && data != 2)) {
    return false;
  }
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

bool IsWholePe(IByteSource& bytes) {
  Reader r(bytes, false);
  const uint64_t peOffset = r.U(0x3C, 4);
  if (!r.Ok() || !r.Within(peOffset, 1, 24) || r.U(peOffset, 4) != 0x00004550) return false;  // "PE\0\0"
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

bool IsWholeExecutable(IByteSource& bytes) {
  Reader r(bytes, true);
  if (r.Size() >= 4 && r.U(0, 4) == 0x7F454C46) return IsWholeElf(bytes);  // "\x7fELF"
  if (r.Size() >= 2 && r.U(0, 2) == 0x4D5A) return IsWholePe(bytes);       // "MZ"
  return false;
}

bool IsWholeExecutable(std::string_view bytes) {
  MemoryBytes memory(bytes);
  return IsWholeExecutable(memory);
}

}  // namespace parlex::update
