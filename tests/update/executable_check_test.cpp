// A program is only whole when its own structure says so: every cut of a
// complete image, and a zero-filled tail, is refused.
#include "update/executable_check.h"

#include <gtest/gtest.h>

#include "update/executable_images.h"

namespace parlex::update {
namespace {

using testing::MinimalElf;
using testing::MinimalPe;

TEST(WholeExecutable, CompleteImagesPass) {
  EXPECT_TRUE(IsWholeExecutable(MinimalPe(5000)));
  EXPECT_TRUE(IsWholeExecutable(MinimalElf(5000)));
  // Trailing bytes (an overlay, a signature) do not make an image partial.
  EXPECT_TRUE(IsWholeExecutable(MinimalPe(5000) + "overlay"));
}

TEST(WholeExecutable, EveryCutFails) {
  for (const std::string& image : {MinimalPe(3000), MinimalElf(3000)}) {
    for (size_t cut = 0; cut < image.size(); cut += 97) {
      EXPECT_FALSE(IsWholeExecutable(image.substr(0, cut))) << cut;
    }
    EXPECT_FALSE(IsWholeExecutable(image.substr(0, image.size() - 1)));
  }
}

TEST(WholeExecutable, ZeroFilledTailFails) {
  // The first 4 KiB of a real program, then zeros up to its full size.
  std::string elf = MinimalElf(10000);
  std::string zeroed = elf.substr(0, 4096) + std::string(elf.size() - 4096, '\0');
  EXPECT_FALSE(IsWholeExecutable(zeroed));
}

TEST(WholeExecutable, ForeignAndDamagedHeadersFail) {
  EXPECT_FALSE(IsWholeExecutable(""));
  EXPECT_FALSE(IsWholeExecutable("MZ"));
  EXPECT_FALSE(IsWholeExecutable("<html>Not Found</html>"));
  std::string pe = MinimalPe(100);
  testing::PutLe(pe, 0x3C, 0xFFFFFFF0u, 4);  // header offset far outside
  EXPECT_FALSE(IsWholeExecutable(pe));
  pe = MinimalPe(100);
  testing::PutLe(pe, 0x58 + 224 + 20, 0xFFFFFFFFu, 4);  // section data pointer overflows
  EXPECT_FALSE(IsWholeExecutable(pe));
  std::string elf = MinimalElf(100);
  testing::PutLe(elf, 56, 0x7FFF, 2);  // program header count runs past the end
  EXPECT_FALSE(IsWholeExecutable(elf));
  elf = MinimalElf(100);
  testing::PutLe(elf, 16, 1, 2);  // a relocatable object is no program
  EXPECT_FALSE(IsWholeExecutable(elf));
}

}  // namespace
}  // namespace parlex::update
