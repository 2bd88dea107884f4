// The small text rules of the service: which file names it serves and which
// texts are whole numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace parlex::demo {

// A name that can only mean a file directly inside a served folder: 1 to 128
// characters of letters, digits, '.', '_' and '-', not starting with '.' (so
// never "." or ".." or a hidden file), no separator of any kind.
bool IsPlainFileName(std::string_view name);

// A whole number in decimal with an optional sign ("12", "-1", "+7") that
// fits in 32 bits; anything else (spaces, "1.0", "0x10", "") gives nothing.
std::optional<int32_t> ParseWholeNumber(std::string_view text);

}  // namespace parlex::demo
