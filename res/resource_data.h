// The icon and cursor files of the program as bytes, for the build that has
// no resource compiler. They are the same files the Windows build compiles
// into its resources (tools/resgen/resgen.py writes both).
#pragma once

#include <cstdint>
#include <span>

namespace parlex::res {

// Icon 128: an .ico file with five 32-bit images (256, 48, 32, 24, 16).
std::span<const std::uint8_t> IconFile();

// Cursors 207 to 212: a .cur file with a 32x32 and a 16x16 monochrome image.
// Empty for any other id.
std::span<const std::uint8_t> CursorFile(int id);

}  // namespace parlex::res
