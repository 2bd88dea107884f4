// Owner of a POSIX file descriptor: closed when the owner ends, unless it was
// handed on with Release(). Close() reports whether the close itself worked,
// which matters for files that were written (a failed close can mean lost
// data on some file systems).
#pragma once

#include <unistd.h>

#include <utility>

namespace parlex {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  int get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  explicit operator bool() const { return IsOpen(); }

  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes what is held and takes fd.
  void Reset(int fd = -1) {
    Close();
    fd_ = fd;
  }
  // Closes now; false when close() failed. Closing nothing succeeds.
  bool Close() {
    if (fd_ < 0) return true;
    return ::close(std::exchange(fd_, -1)) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace parlex
