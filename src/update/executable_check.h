// Whether a downloaded program is whole. A download whose length the server
// did not announce ends when the connection closes, and a connection that
// drops (or a proxy that cuts it) ends it early without any error: only the
// file's own structure can then tell a complete program from a truncated one.
#pragma once

#include <string_view>

namespace parlex::update {

// True when bytes are a complete executable: a PE image whose headers,
// section table, section contents and symbol table lie within the bytes, or
// an ELF executable or shared object whose program headers, segments,
// section headers and sections lie within the bytes and whose section-name
// table is a string table. Anything else (another format, a truncated or
// zero-filled file) answers false.
bool IsWholeExecutable(std::string_view bytes);

}  // namespace parlex::update
