#include "app/posix/address_sources_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "common/unique_fd.h"

namespace parlex::app::posix {
namespace {

// A settings file holds two lines; anything this big is not one.
constexpr size_t kMaxConfBytes = 64 * 1024;

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

SettingSource Unreadable(const std::string& path, int error) {
  SettingSource source;
  source.name = FromUtf8(path);
  source.error =
      source.name + u": cannot be read (" + FromUtf8(std::strerror(error)) + u") (无法读取设置文件)";
  return source;
}

}  // namespace

std::string UserConfPath() { return ConfigHome() + "/parlex/parlex.conf"; }

std::vector<SettingSource> ReadConfFiles(const std::vector<std::string>& paths) {
  std::vector<SettingSource> sources;
  for (const std::string& path : paths) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
      if (errno == ENOENT || errno == ENOTDIR) continue;  // not set here
      sources.push_back(Unreadable(path, errno));
      continue;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<size_t>(st.st_size) > kMaxConfBytes) {
      sources.push_back(Unreadable(path, S_ISDIR(st.st_mode) ? EISDIR : EFBIG));
      continue;
    }
    std::string bytes;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd.get(), buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0) bytes.append(buffer, static_cast<size_t>(n));
      if (bytes.size() > kMaxConfBytes) break;
    }
    if (n < 0) {
      sources.push_back(Unreadable(path, errno));
      continue;
    }
    sources.push_back(ParseConfText(bytes, FromUtf8(path)));
  }
  return sources;
}

}  // namespace parlex::app::posix
