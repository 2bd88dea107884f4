#include "capture/qt/capture_files_posix.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parlex::qt {
namespace {

QByteArray Native(const std::u16string& path) { return QFile::encodeName(QString::fromStdU16String(path)); }

std::u16string WithSeparator(const QString& dir) {
  QString d = QDir::cleanPath(dir);
  if (!d.endsWith(u'/')) d += u'/';
  return d.toStdU16String();
}

bool IsDirectory(const QString& dir) {
  struct stat st {};
  return !dir.isEmpty() && ::stat(QFile::encodeName(dir).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes bytes to a freshly opened descriptor and closes it; on failure the
// half-written file is removed.
bool WriteAndClose(int fd, const QByteArray& path, std::string_view bytes) {
  const bool ok = WriteAll(fd, bytes);
  const bool closed = ::close(fd) == 0;
  if (ok && closed) return true;
  ::unlink(path.constData());
  return false;
}

// Copies from into a new file to (never replacing one), then removes from.
bool CopyThenUnlink(const QByteArray& from, const QByteArray& to) {
  const int in = ::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return false;
  }
  const int out =
      ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    ::close(in);
    return false;
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(in);
      ::close(out);
      ::unlink(to.constData());
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(in);
  if (!WriteAndClose(out, to, bytes)) return false;
  ::unlink(from.constData());
  return true;
}

}  // namespace

std::u16string CaptureFilesPosix::TempDirectory() {
  const QString env = qEnvironmentVariable("TMPDIR");
  if (IsDirectory(env)) return WithSeparator(env);
  if (IsDirectory(QStringLiteral("/tmp"))) return u"/tmp/";
  return {};
}

std::u16string CaptureFilesPosix::PicturesDirectory() {
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (IsDirectory(pictures)) return WithSeparator(pictures);
  const QString home = QDir::homePath();
  if (IsDirectory(home)) return WithSeparator(home);
  return {};
}

bool CaptureFilesPosix::WriteFile(const std::u16string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const QByteArray native = Native(path);
  const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  return WriteAndClose(fd, native, bytes);
}

bool CaptureFilesPosix::WritePrivateFile(const std::u16string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const QByteArray native = Native(path);
  // unlink removes a symbolic link itself; a read-only file goes too, since
  // only the folder's permissions count.
  ::unlink(native.constData());
  const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  return WriteAndClose(fd, native, bytes);
}

void CaptureFilesPosix::RemoveFile(const std::u16string& path) {
  if (!path.empty()) ::unlink(Native(path).constData());
}

bool CaptureFilesPosix::MoveFile(const std::u16string& from, const std::u16string& to) {
  if (from.empty() || to.empty()) return false;
  const QByteArray src = Native(from);
  const QByteArray dst = Native(to);
  if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno == EXDEV) return CopyThenUnlink(src, dst);
  // A file system without RENAME_NOREPLACE: a new hard link cannot replace
  // anything either.
  if (::link(src.constData(), dst.constData()) == 0) {
    ::unlink(src.constData());
    return true;
  }
  if (errno == EXDEV || errno == EPERM || errno == ENOTSUP) return CopyThenUnlink(src, dst);
  return false;
}

bool CaptureFilesPosix::FileExists(const std::u16string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(Native(path).constData(), &st) == 0;
}

LocalTime CaptureFilesPosix::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  if (!::localtime_r(&now, &tm)) return LocalTime{};
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace parlex::qt
