// Small but structurally complete executables for the updater's tests: a
// PE32 image with one section and a 64-bit ELF program with one segment and
// a section-name table, laid out as linkers lay them out.
#pragma once

#include <cstdint>
#include <string>

namespace parlex::update::testing {

inline void PutLe(std::string& bytes, size_t at, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

// Headers in the first 0x200 bytes, then `sectionSize` bytes of section data.
inline std::string MinimalPe(size_t sectionSize) {
  std::string pe(0x200 + sectionSize, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  PutLe(pe, 0x3C, 0x40, 4);
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  PutLe(pe, 0x44, 0x14C, 2);  // i386
  PutLe(pe, 0x46, 1, 2);      // one section
  PutLe(pe, 0x54, 224, 2);    // optional header size
  PutLe(pe, 0x58, 0x10B, 2);  // PE32
  PutLe(pe, 0x58 + 60, 0x200, 4);
  const size_t section = 0x58 + 224;
  pe.replace(section, 5, ".text");
  PutLe(pe, section + 8, sectionSize, 4);
  PutLe(pe, section + 16, sectionSize, 4);
  PutLe(pe, section + 20, 0x200, 4);
  for (size_t i = 0x200; i < pe.size(); ++i) pe[i] = static_cast<char>('a' + i % 26);
  return pe;
}

// Header, one program header, `dataSize` bytes, the section-name table, and
// the section headers at the end.
inline std::string MinimalElf(size_t dataSize) {
  const std::string names("\0.shstrtab\0", 11);
  const size_t namesAt = 64 + 56 + dataSize;
  const size_t shoff = namesAt + names.size();
  std::string elf(shoff + 2 * 64, '\0');
  elf.replace(0, 4,
              "\x7f"
              "ELF");
  elf[4] = 2;  // 64-bit
  elf[5] = 1;  // little-endian
  elf[6] = 1;
  PutLe(elf, 16, 2, 2);   // ET_EXEC
  PutLe(elf, 18, 62, 2);  // x86-64
  PutLe(elf, 20, 1, 4);
  PutLe(elf, 32, 64, 8);  // program headers
  PutLe(elf, 40, shoff, 8);
  PutLe(elf, 52, 64, 2);
  PutLe(elf, 54, 56, 2);
  PutLe(elf, 56, 1, 2);
  PutLe(elf, 58, 64, 2);
  PutLe(elf, 60, 2, 2);
  PutLe(elf, 62, 1, 2);
  PutLe(elf, 64, 1, 4);                        // PT_LOAD
  PutLe(elf, 64 + 32, 64 + 56 + dataSize, 8);  // file size: headers and data
  for (size_t i = 0; i < dataSize; ++i) elf[64 + 56 + i] = static_cast<char>('a' + i % 26);
  elf.replace(namesAt, names.size(), names);
  const size_t strtab = shoff + 64;
  PutLe(elf, strtab, 1, 4);
  PutLe(elf, strtab + 4, 3, 4);  // SHT_STRTAB
  PutLe(elf, strtab + 24, namesAt, 8);
  PutLe(elf, strtab + 32, names.size(), 8);
  return elf;
}

}  // namespace parlex::update::testing
