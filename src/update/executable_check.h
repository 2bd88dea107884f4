// Whether a downloaded program is whole. A download whose length the server
// did not announce ends when the connection closes, and a connection that
// drops (or a proxy that cuts it) ends it early without any error: only the
// file's own structure can then tell a complete program from a truncated one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace parlex::update {

// Bytes read at any offset: the downloaded file where it lies on disk, so
// that a program of any size is checked without holding it in memory.
class IByteSource {
 public:
  virtual ~IByteSource() = default;
  virtual uint64_t Size() = 0;
  // Reads exactly length bytes at offset; false when they cannot all be read.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
};

// True when the bytes are a complete executable: a PE image whose headers,
// section table, section contents and symbol table lie within the bytes, or
// an ELF executable or shared object whose program headers, segments,
// section headers and sections lie within the bytes and whose section-name
// table is a string table. Anything else (another format, a truncated or
// zero-filled file, bytes that cannot be read) answers false. Only the
// headers and tables are read.
bool IsWholeExecutable(IByteSource& bytes);
bool IsWholeExecutable(std::string_view bytes);

}  // namespace parlex::update
