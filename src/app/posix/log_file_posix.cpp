#include "app/posix/log_file_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "common/posix_files.h"
#include "common/unique_fd.h"

namespace parlex::app::posix {
namespace {

std::string StateHome() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.local/state";
}

// Makes each missing folder of path's parent, private to the user.
void MakeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0700);
}

// A copy holds the lock for one write. One that holds it longer (stopped,
// hung) costs the others their lines, never their time.
constexpr int kLockTries = 40;
constexpr long kLockPauseNs = 5 * 1000 * 1000;

UniqueFd OpenLocked(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return fd;
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    const timespec pause{0, kLockPauseNs};
    nanosleep(&pause, nullptr);
  }
  fd.Reset();
  return fd;
}

// Whether fd is still the file at path (another copy may have started a
// new file while this one waited for the lock).
bool IsCurrent(int fd, const std::string& path, struct stat* st) {
  struct stat named {};
  return fstat(fd, st) == 0 && stat(path.c_str(), &named) == 0 && named.st_ino == st->st_ino &&
         named.st_dev == st->st_dev;
}

}  // namespace

std::string LogPath() { return StateHome() + "/parlex/parlex.log"; }

LogFilePosix::LogFilePosix(std::string path) : path_(std::move(path)) {}

supportlog::Stamp LogFilePosix::Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900,
          local.tm_mon + 1,
          local.tm_mday,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000),
          static_cast<int>(local.tm_gmtoff / 60)};
}

void LogFilePosix::Append(std::string_view line) {
  if (!folderMade_) {
    MakeParents(path_);
    folderMade_ = true;
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    UniqueFd fd = OpenLocked(path_);
    if (!fd) return;
    struct stat st {};
    if (!IsCurrent(fd.get(), path_, &st)) continue;
    if (supportlog::NeedsRotation(static_cast<uint64_t>(st.st_size), line.size())) {
      // The full file becomes the older one (replacing the one before), and
      // the line goes to a new file; the lock held keeps others out until
      // the name is free.
      if (rename(path_.c_str(), (path_ + ".1").c_str()) != 0) return;
      continue;
    }
    WriteAll(fd.get(), line.data(), line.size());
    return;
  }
}

}  // namespace parlex::app::posix
