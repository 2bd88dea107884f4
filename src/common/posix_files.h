// Small POSIX file helpers shared by the Linux halves (capture files, the
// updater): whole writes that survive interruptions and short writes, and a
// streamed copy between two open files. Header-only: parlex_common is also
// built for Windows, where this file is never included.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace parlex {

// Writes every byte; false on the first failure.
inline bool WriteAll(int fd, const void* data, size_t length) {
  auto p = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = ::write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Copies what is left of in to out; false when a read or a write fails.
inline bool CopyContents(int in, int out) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) return false;
  }
}

}  // namespace parlex
