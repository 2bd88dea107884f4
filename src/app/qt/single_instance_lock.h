// One running copy per user session. The guard is an exclusive lock on a
// file in the session's runtime directory; the kernel drops the lock when
// the process ends, however it ends, so a crashed copy never blocks the next
// start.
#pragma once

#include <string>

#include "common/unique_fd.h"

namespace parlex::app::qt {

class SingleInstanceLock {
 public:
  SingleInstanceLock() = default;
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  enum class Result {
    kAcquired,        // this process is the running copy now
    kAlreadyRunning,  // another process holds the lock
    kUnavailable,     // the lock file could not be used; no guard this run
  };

  // Takes the lock on `path` without waiting. Holding it again after a
  // success is a no-op answering kAcquired.
  Result Acquire(const std::string& path);

  // Drops the lock (also done by the destructor and by process exit).
  void Release();

  bool held() const { return fd_.IsOpen(); }

 private:
  UniqueFd fd_;
};

// The lock file of this user session: named after the program's instance
// name, in $XDG_RUNTIME_DIR when that is an absolute path, otherwise in /tmp
// with the user id in the name.
std::string InstanceLockPath();

}  // namespace parlex::app::qt
