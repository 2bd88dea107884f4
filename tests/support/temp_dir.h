// A private folder for one test: made fresh under the system's temporary
// folder with a unique name (mkdtemp on posix, a checked CreateDirectoryW
// under Windows), removed with everything in it when the object ends. Tests
// never use fixed names in the shared temporary folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace parlex::test {

class TempDir {
 public:
  // prefix names the folder for whoever looks ("parlex-<prefix>-XXXXXX").
  explicit TempDir(std::string_view prefix = "test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empty when the folder could not be made (tests ASSERT on Ok()).
  bool Ok() const { return !path_.empty(); }
  const std::filesystem::path& Path() const { return path_; }
  // A path inside the folder (the file need not exist).
  std::filesystem::path File(std::string_view name) const { return path_ / std::filesystem::u8path(name); }
  // The folder as the program's UTF-16 text, ending in a separator.
  std::u16string Text() const;

  // Writes bytes to a file in the folder; answers its path.
  std::filesystem::path Write(std::string_view name, std::string_view bytes) const;
  // The bytes of a file; empty when it cannot be read.
  static std::string Read(const std::filesystem::path& file);

 private:
  std::filesystem::path path_;
};

}  // namespace parlex::test
