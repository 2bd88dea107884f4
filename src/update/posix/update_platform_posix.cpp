#include "update/posix/update_platform_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/posix_files.h"
#include "common/support_log.h"
#include "common/text.h"
#include "common/unique_fd.h"
#include "parlex_config.h"
#include "update/posix/http_get.h"
#include "update/update_texts.h"

namespace parlex::update::posix {

namespace {

class RemoteFile : public IRemoteFile {
 public:
  explicit RemoteFile(HttpGet get) : get_(std::move(get)) {}
  int64_t AnnouncedLength() const override { return get_.ContentLength(); }
  ptrdiff_t Read(void* buffer, size_t capacity, int idleMs) override {
    return get_.Read(buffer, capacity, idleMs);
  }

 private:
  HttpGet get_;
};

class LocalFile : public ILocalFile {
 public:
  explicit LocalFile(UniqueFd fd) : fd_(std::move(fd)) {}
  ~LocalFile() override { Close(); }
  bool Write(const void* data, size_t length) override { return WriteAll(fd_.get(), data, length); }
  bool Close() override {
    if (!fd_) return true;
    bool ok = ::fsync(fd_.get()) == 0;
    return fd_.Close() && ok;
  }

 private:
  UniqueFd fd_;
};

class FileBytes : public IByteSource {
 public:
  FileBytes(UniqueFd fd, uint64_t size) : fd_(std::move(fd)), size_(size) {}

  uint64_t Size() override { return size_; }

  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    auto* out = static_cast<char*>(buffer);
    while (length > 0) {
      const ssize_t n = ::pread(fd_.get(), out, length, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      out += n;
      offset += static_cast<uint64_t>(n);
      length -= static_cast<size_t>(n);
    }
    return true;
  }

 private:
  UniqueFd fd_;
  uint64_t size_;
};

bool IsLinkLocal(const sockaddr* a) {
  if (a->sa_family == AF_INET) {
    auto v4 = reinterpret_cast<const sockaddr_in*>(a);
    uint32_t addr = ntohl(v4->sin_addr.s_addr);
    return (addr & 0xFFFF0000u) == 0xA9FE0000u;
  }
  auto v6 = reinterpret_cast<const sockaddr_in6*>(a);
  return v6->sin6_addr.s6_addr[0] == 0xFE && (v6->sin6_addr.s6_addr[1] & 0xC0) == 0x80;
}

// Copies from to a new file to with from's permission bits; removes the
// half-written copy on failure.
bool CopyFileContents(const std::string& from, const std::string& to) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!in || ::fstat(in.get(), &st) != 0) return false;
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777));
  if (!out) return false;
  bool ok = CopyContents(in.get(), out.get());
  ok = ok && ::fchmod(out.get(), st.st_mode & 07777) == 0;
  ok = ok && ::fsync(out.get()) == 0;
  ok = out.Close() && ok;
  if (!ok) ::unlink(to.c_str());
  return ok;
}

}  // namespace

bool HasNetwork(const std::vector<InterfaceAddress>& addresses) {
  for (const InterfaceAddress& a : addresses) {
    if (a.up && !a.loopback && !a.linkLocal) return true;
  }
  return false;
}

bool MachineHasNetwork() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  std::vector<InterfaceAddress> addresses;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr) continue;
    int family = i->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    InterfaceAddress a;
    a.up = (i->ifa_flags & IFF_UP) != 0 && (i->ifa_flags & IFF_RUNNING) != 0;
    a.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    a.ipv6 = family == AF_INET6;
    a.linkLocal = IsLinkLocal(i->ifa_addr);
    addresses.push_back(a);
  }
  ::freeifaddrs(list);
  return HasNetwork(addresses);
}

UpdatePlatformPosix::UpdatePlatformPosix() = default;

UpdatePlatformPosix::~UpdatePlatformPosix() {
  if (privateDir_.empty()) return;
  // Only this object writes here: a download that was not moved into place.
  if (DIR* dir = ::opendir(privateDir_.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") ::unlink((privateDir_ + "/" + name).c_str());
    }
    ::closedir(dir);
  }
  ::rmdir(privateDir_.c_str());
}

bool UpdatePlatformPosix::IsConnected() { return MachineHasNetwork(); }

std::unique_ptr<IRemoteFile> UpdatePlatformPosix::OpenRemoteFile(std::u16string& url, int waitMs) {
  HttpUrl parts;
  if (!SplitHttpUrl(ToUtf8(url), &parts)) return nullptr;
  url = FromUtf8(parts.Text());
  HttpGet get;
  if (!get.Open(parts, ToUtf8(kAgentName), waitMs)) {
    supportlog::Warning("update", supportlog::LoggableUrl(url) + u": no reply");
    return nullptr;
  }
  // An error page is never a version text nor the program.
  if (get.Status() != 200) {
    supportlog::Warning("update", supportlog::LoggableUrl(url) + u": HTTP " + FormatDecimal(get.Status()));
    return nullptr;
  }
  return std::make_unique<RemoteFile>(std::move(get));
}

std::u16string UpdatePlatformPosix::ServerExecutableName() { return u"parlex"; }

std::string_view UpdatePlatformPosix::ExecutableMagic() {
  return std::string_view(
      "\x7f"
      "ELF",
      4);
}

std::u16string UpdatePlatformPosix::OwnPath() {
  std::string path(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return {};
  path.resize(static_cast<size_t>(n));
  return FromUtf8(path);
}

std::optional<FileVersion> UpdatePlatformPosix::ReadFileVersion(const std::u16string&) {
  return FileVersion{PARLEX_VERSION_MAJOR, PARLEX_VERSION_MINOR, PARLEX_VERSION_BUILD,
                     PARLEX_VERSION_REVISION};
}

std::u16string UpdatePlatformPosix::TempDirectory() {
  if (privateDir_.empty()) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
    if (pattern.back() != '/') pattern += '/';
    pattern += "parlex-update-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    privateDir_ = pattern;
  }
  return FromUtf8(privateDir_ + "/");
}

std::unique_ptr<ILocalFile> UpdatePlatformPosix::CreateFileForWrite(const std::u16string& path) {
  // Only the owner may write it: it is about to become a program.
  UniqueFd fd(::open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
  if (!fd) return nullptr;
  return std::make_unique<LocalFile>(std::move(fd));
}

std::unique_ptr<IByteSource> UpdatePlatformPosix::OpenFileForRead(const std::u16string& path) {
  UniqueFd fd(::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  return std::make_unique<FileBytes>(std::move(fd), static_cast<uint64_t>(st.st_size));
}

bool UpdatePlatformPosix::RemoveFile(const std::u16string& path) {
  return ::unlink(ToUtf8(path).c_str()) == 0;
}

bool UpdatePlatformPosix::RenameFile(const std::u16string& from, const std::u16string& to, bool atRestart) {
  if (atRestart) return false;
  std::string src = ToUtf8(from);
  std::string dst = ToUtf8(to);
  if (::rename(src.c_str(), dst.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  if (!CopyFileContents(src, dst)) return false;
  ::unlink(src.c_str());
  return true;
}

bool UpdatePlatformPosix::CopyPermissions(const std::u16string& from, const std::u16string& to) {
  struct stat st {};
  if (::stat(ToUtf8(from).c_str(), &st) != 0) return false;
  return ::chmod(ToUtf8(to).c_str(), st.st_mode & 07777) == 0;
}

}  // namespace parlex::update::posix
