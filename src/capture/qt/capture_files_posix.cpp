#include "capture/qt/capture_files_posix.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "common/posix_files.h"
#include "common/unique_fd.h"

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

// A real folder (not a link) of this user that nobody else may enter.
bool IsPrivateDirectory(const QString& dir) {
  struct stat st {};
  return !dir.isEmpty() && ::lstat(QFile::encodeName(dir).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// dir made with mode 0700, or already there as a private folder of ours.
bool MakePrivateDirectory(const QString& dir) {
  if (::mkdir(QFile::encodeName(dir).constData(), 0700) != 0 && errno != EEXIST) return false;
  return IsPrivateDirectory(dir);
}

// Writes bytes to a freshly opened file and closes it; on failure the
// half-written file is removed.
bool WriteAndClose(UniqueFd fd, const QByteArray& path, std::string_view bytes) {
  const bool ok = WriteAll(fd.get(), bytes.data(), bytes.size());
  if (fd.Close() && ok) return true;
  ::unlink(path.constData());
  return false;
}

// Copies from into a new file to (never replacing one), then removes from.
bool CopyThenUnlink(const QByteArray& from, const QByteArray& to) {
  UniqueFd in(::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!in || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  UniqueFd out(
      ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 0777));
  if (!out) return false;
  const bool copied = CopyContents(in.get(), out.get());
  if (!out.Close() || !copied) {
    ::unlink(to.constData());
    return false;
  }
  ::unlink(from.constData());
  return true;
}

}  // namespace

std::u16string CaptureFilesPosix::TempDirectory() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (IsPrivateDirectory(runtime)) {
    const QString own = QDir::cleanPath(runtime) + QStringLiteral("/parlex");
    if (MakePrivateDirectory(own)) return WithSeparator(own);
  }
  QString shared = qEnvironmentVariable("TMPDIR");
  if (!IsDirectory(shared)) shared = QStringLiteral("/tmp");
  if (!IsDirectory(shared)) return {};
  const QString own = QDir::cleanPath(shared) + QStringLiteral("/parlex-") + QString::number(::geteuid());
  if (MakePrivateDirectory(own)) return WithSeparator(own);
  // Somebody else holds that name: a folder of our own for this run.
  static const QString fallback = [&] {
    QByteArray pattern = QFile::encodeName(QDir::cleanPath(shared) + QStringLiteral("/parlex-XXXXXX"));
    return ::mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
  }();
  return IsPrivateDirectory(fallback) ? WithSeparator(fallback) : std::u16string();
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
  UniqueFd fd(::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  return fd && WriteAndClose(std::move(fd), native, bytes);
}

bool CaptureFilesPosix::WritePrivateFile(const std::u16string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const QByteArray native = Native(path);
  // unlink removes a symbolic link itself; a read-only file goes too, since
  // only the folder's permissions count.
  ::unlink(native.constData());
  UniqueFd fd(::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  return fd && WriteAndClose(std::move(fd), native, bytes);
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
