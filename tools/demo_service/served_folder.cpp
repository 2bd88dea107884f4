#include "served_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "plain_name.h"

namespace parlex::demo {

std::optional<std::string> ServedFolder::Read(std::string_view name) const {
  if (dir_.empty() || !IsPlainFileName(name)) return std::nullopt;
  std::string path = dir_ + "/" + std::string(name);
  // O_NOFOLLOW: a link planted in the folder is not followed out of it.
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> result;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) <= kMaxBytes) {
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
      ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);  // a file that shrank meanwhile is served as it now is
    result = std::move(bytes);
  }
  ::close(fd);
  return result;
}

}  // namespace parlex::demo
