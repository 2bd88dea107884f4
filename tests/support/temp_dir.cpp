#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#endif

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "common/text.h"

namespace parlex::test {

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view prefix) {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error || base.empty()) return;
  std::string stem = "parlex-" + std::string(prefix) + "-";
#ifdef _WIN32
  // CreateDirectoryW fails on an existing name, so a folder someone else made
  // is never taken over.
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / (stem + std::to_string(random() % 1000000000u));
    if (::CreateDirectoryW(candidate.wstring().c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
#else
  std::string pattern = (base / (stem + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#endif
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::u16string TempDir::Text() const {
  std::u8string u8 = (path_ / "").u8string();
  return FromUtf8(std::string(u8.begin(), u8.end()));
}

fs::path TempDir::Write(std::string_view name, std::string_view bytes) const {
  fs::path file = File(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file;
}

std::string TempDir::Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace parlex::test
