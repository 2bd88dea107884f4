#include "image_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace parlex::demo {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string RandomSuffix() {
  thread_local std::mt19937_64 generator{(static_cast<uint64_t>(std::random_device{}()) << 32) ^
                                         std::random_device{}()};
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
  return text;
}

}  // namespace

ImageStore::ImageStore(std::string dir) : dir_(std::move(dir)) {}

std::optional<std::string> ImageStore::Store(std::string_view bytes, const ImageInfo& info) {
  // A random name: only who was shown it can fetch the image.
  std::string name = "img-" + RandomSuffix() + RandomSuffix() + "." + info.Extension();
  std::string path = dir_ + "/" + name;
  // Written under a hidden name, which is never served, and renamed when complete.
  std::string partial = dir_ + "/." + name + ".part";
  int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return std::nullopt;
  bool ok = WriteAll(fd, bytes);
  ok = ::close(fd) == 0 && ok;
  if (ok && ::link(partial.c_str(), path.c_str()) != 0) ok = false;  // link: never replaces a file
  ::unlink(partial.c_str());
  if (!ok) return std::nullopt;
  return name;
}

void ImageStore::Remove(const std::string& name) { ::unlink((dir_ + "/" + name).c_str()); }

}  // namespace parlex::demo
