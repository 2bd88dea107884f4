#include "app/qt/single_instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "app/shell_texts.h"
#include "common/text.h"

namespace parlex::app::qt {

SingleInstanceLock::~SingleInstanceLock() = default;

SingleInstanceLock::Result SingleInstanceLock::Acquire(const std::string& path) {
  if (fd_) return Result::kAcquired;
  // O_CLOEXEC matters: the web engine starts helper processes, and an
  // inherited descriptor would keep the lock alive after we are gone.
  // O_NOFOLLOW because the fallback directory is shared by every user.
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  struct stat st {};
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())
    return Result::kUnavailable;
  int rc;
  do {
    rc = flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return errno == EWOULDBLOCK ? Result::kAlreadyRunning : Result::kUnavailable;
  fd_ = std::move(fd);
  return Result::kAcquired;
}

void SingleInstanceLock::Release() {
  fd_.Close();  // closing the only descriptor drops the lock
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
