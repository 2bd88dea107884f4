#include "app/qt/single_instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/shell_texts.h"
#include "common/text.h"

namespace parlex::app::qt {

SingleInstanceLock::~SingleInstanceLock() { Release(); }

SingleInstanceLock::Result SingleInstanceLock::Acquire(const std::string& path) {
  if (fd_ >= 0) return Result::kAcquired;
  // O_CLOEXEC matters: the web engine starts helper processes, and an
  // inherited descriptor would keep the lock alive after we are gone.
  // O_NOFOLLOW because the fallback directory is shared by every user.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Result::kUnavailable;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return Result::kUnavailable;
  }
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? Result::kAlreadyRunning : Result::kUnavailable;
  }
  fd_ = fd;
  return Result::kAcquired;
}

void SingleInstanceLock::Release() {
  if (fd_ < 0) return;
  close(fd_);  // closing the only descriptor drops the lock
  fd_ = -1;
}

std::string InstanceLockPath() {
  const std::string name = ToUtf8(kInstanceName);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    std::string dir(runtime);
    if (dir.back() != '/') dir += '/';
    return dir + name + ".lock";
  }
  return "/tmp/" + name + "-" + std::to_string(geteuid()) + ".lock";
}

}  // namespace parlex::app::qt
