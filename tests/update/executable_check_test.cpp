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

// A large file on disk as the check sees it: the headers of a real image,
// then as many bytes of section data as it claims, made up on request.
class LargeImage : public IByteSource {
 public:
  explicit LargeImage(std::string headers, uint64_t size) : headers_(std::move(headers)), size_(size) {}
  uint64_t Size() override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (failing_ || offset > size_ || length > size_ - offset) return false;
    bytesRead_ += length;
    auto* out = static_cast<char*>(buffer);
    for (size_t i = 0; i < length; ++i) {
      out[i] = offset + i < headers_.size() ? headers_[static_cast<size_t>(offset + i)] : 'x';
    }
    return true;
  }
  void Fail() { failing_ = true; }
  uint64_t bytesRead_ = 0;

 private:
  std::string headers_;
  uint64_t size_;
  bool failing_ = false;
};

TEST(WholeExecutable, LargeFilesAreCheckedByTheirHeadersAlone) {
  // 60 MiB of section data: only the headers and tables are read.
  const uint64_t sectionSize = uint64_t{60} << 20;
  std::string pe = MinimalPe(0);
  testing::PutLe(pe, 0x58 + 224 + 8, sectionSize, 4);
  testing::PutLe(pe, 0x58 + 224 + 16, sectionSize, 4);
  LargeImage whole(pe, 0x200 + sectionSize);
  EXPECT_TRUE(IsWholeExecutable(whole));
  EXPECT_LT(whole.bytesRead_, 64u * 1024);
  LargeImage cut(pe, 0x200 + sectionSize - 1);
  EXPECT_FALSE(IsWholeExecutable(cut));
  // A file that cannot be read is not whole, whatever its size says.
  LargeImage unreadable(pe, 0x200 + sectionSize);
  unreadable.Fail();
  EXPECT_FALSE(IsWholeExecutable(unreadable));
}

}  // namespace
}  // namespace parlex::update
