#include "update/win32/update_platform_win32.h"

#include <cstring>
#include <string>
#include <vector>

#include "common/support_log.h"
#include "common/text.h"
#include "net/win32/bounded_call.h"
#include "platform/win32/scoped_handle.h"
#include "update/update_texts.h"

namespace parlex::update::win32 {

namespace {

using net::win32::CallEnd;
using net::win32::CallWait;
using net::win32::InternetHandle;

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

constexpr DWORD kOpenUrlFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_RESYNCHRONIZE | INTERNET_FLAG_HYPERLINK | INTERNET_FLAG_NEED_FILE;
static_assert(kOpenUrlFlags == 0x80000C10);

void SetTimeouts(HINTERNET handle, int waitMs, bool connectToo) {
  DWORD ms = static_cast<DWORD>(waitMs);
  if (connectToo) InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
  InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
  InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
  InternetSetOptionW(handle, INTERNET_OPTION_DATA_SEND_TIMEOUT, &ms, sizeof ms);
  InternetSetOptionW(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &ms, sizeof ms);
}

// The reply's Content-Length, -1 when there is none or it is not a number.
int64_t QueryContentLength(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return -1;
  int64_t value = 0;
  int digits = 0;
  for (const wchar_t* p = text; *p != 0; ++p) {
    if (*p == L' ') continue;
    if (*p < L'0' || *p > L'9' || ++digits > 18) return -1;
    value = value * 10 + (*p - L'0');
  }
  return digits > 0 ? value : -1;
}

// A wait of ms at most, serving the thread's windows: the download window
// keeps painting.
CallWait WaitServingWindows(int ms, net::win32::CallThread* thread = nullptr) {
  CallWait wait;
  wait.firstMs = ms;
  wait.pumpMessages = true;
  wait.thread = thread;
  return wait;
}

class RemoteFile : public IRemoteFile {
 public:
  RemoteFile(std::shared_ptr<InternetHandle> request, int64_t announced)
      : request_(std::move(request)), announced_(announced) {}
  RemoteFile(const RemoteFile&) = delete;
  RemoteFile& operator=(const RemoteFile&) = delete;

  int64_t AnnouncedLength() const override { return announced_; }

  ptrdiff_t Read(void* buffer, size_t capacity, int idleMs) override {
    if (idleMs != idleMs_) {
      SetTimeouts(request_->get(), idleMs, false);
      idleMs_ = idleMs;
    }
    // The read lands in a buffer of its own: a read given up on may still
    // complete after this call has returned.
    struct Result {
      std::vector<char> data;
      DWORD got = 0;
      BOOL ok = FALSE;
    };
    auto result = std::make_shared<Result>();
    result->data.resize(capacity);
    CallEnd end = net::win32::RunBounded(
        request_,
        [request = request_, result] {
          result->ok = InternetReadFile(request->get(), result->data.data(),
                                        static_cast<DWORD>(result->data.size()), &result->got);
        },
        WaitServingWindows(idleMs, &thread_));
    if (end != CallEnd::kEnded || !result->ok || result->got > capacity) return -1;
    std::memcpy(buffer, result->data.data(), result->got);
    return static_cast<ptrdiff_t>(result->got);
  }

 private:
  std::shared_ptr<InternetHandle> request_;
  int64_t announced_;
  int idleMs_ = -1;
  // One thread for all the reads of a download.
  net::win32::CallThread thread_;
};

class LocalFile : public ILocalFile {
 public:
  explicit LocalFile(HANDLE file) : file_(file) {}
  ~LocalFile() override { Close(); }
  LocalFile(const LocalFile&) = delete;
  LocalFile& operator=(const LocalFile&) = delete;

  bool Write(const void* data, size_t length) override {
    DWORD written = 0;
    return WriteFile(file_, data, static_cast<DWORD>(length), &written, nullptr) && written == length;
  }
  bool Close() override {
    if (file_ == INVALID_HANDLE_VALUE) return true;
    bool ok = FlushFileBuffers(file_) != FALSE;
    ok = CloseHandle(file_) != FALSE && ok;
    file_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE file_;
};

class FileBytes : public IByteSource {
 public:
  FileBytes(parlex::win32::ScopedKernelHandle file, uint64_t size) : file_(std::move(file)), size_(size) {}

  uint64_t Size() override { return size_; }

  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    auto* out = static_cast<char*>(buffer);
    while (length > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(length < (1u << 20) ? length : (1u << 20));
      if (!ReadFile(file_.Get(), out, want, &got, &at) || got == 0) return false;
      out += got;
      offset += got;
      length -= got;
    }
    return true;
  }

 private:
  parlex::win32::ScopedKernelHandle file_;
  uint64_t size_;
};

}  // namespace

UpdatePlatformWin32::UpdatePlatformWin32()
    : session_(InternetHandle::Adopt(
          InternetOpenW(W(kAgentName), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0))) {}

bool UpdatePlatformWin32::IsConnected() {
  DWORD flags = 0;
  return session_ != nullptr && InternetGetConnectedState(&flags, 0);
}

std::unique_ptr<IRemoteFile> UpdatePlatformWin32::OpenRemoteFile(std::u16string& url, int waitMs) {
  if (session_ == nullptr) return nullptr;
  wchar_t canonical[1024] = {};
  DWORD length = 1024;
  if (!InternetCanonicalizeUrlW(W(url), canonical, &length, ICU_BROWSER_MODE)) return nullptr;
  // Children of the session take its waits where the host honours them; the
  // helper thread makes sure of the bound where it does not.
  SetTimeouts(session_->get(), waitMs, true);
  // The request lands here; an open given up on closes what it opened
  // when it ends, as the last owner of this.
  struct Opened {
    std::shared_ptr<InternetHandle> request;
  };
  auto opened = std::make_shared<Opened>();
  CallEnd end = net::win32::RunBounded(
      session_,
      [session = session_, opened, target = std::wstring(canonical)] {
        opened->request = InternetHandle::Adopt(
            InternetOpenUrlW(session->get(), target.c_str(), nullptr, 0, kOpenUrlFlags, 0), session);
      },
      WaitServingWindows(waitMs));
  url.assign(reinterpret_cast<const char16_t*>(canonical));
  if (end != CallEnd::kEnded || opened->request == nullptr) {
    supportlog::Warning("update", supportlog::LoggableUrl(url) +
                                      (end != CallEnd::kEnded ? u": no reply within the bound"
                                                              : u": no reply (connection, TLS or proxy)"));
    return nullptr;
  }
  std::shared_ptr<InternetHandle> request = std::move(opened->request);
  DWORD status = 0;
  DWORD size = sizeof status;
  // An error page is never a version text nor the program.
  if (!HttpQueryInfoW(request->get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr) ||
      status != HTTP_STATUS_OK) {
    supportlog::Warning(
        "update", supportlog::LoggableUrl(url) + u": HTTP " + FormatDecimal(static_cast<int32_t>(status)));
    return nullptr;
  }
  const int64_t announced = QueryContentLength(request->get());
  return std::make_unique<RemoteFile>(std::move(request), announced);
}

std::u16string UpdatePlatformWin32::OwnPath() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  // A cut-off path names some other file.
  if (n == 0 || n >= MAX_PATH) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(path), n);
}

std::optional<FileVersion> UpdatePlatformWin32::ReadFileVersion(const std::u16string& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(W(path), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(W(path), 0, size, block.data())) return std::nullopt;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || info == nullptr ||
      infoSize < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  FileVersion v;
  v.major = static_cast<uint16_t>(info->dwFileVersionMS >> 16);
  v.minor = static_cast<uint16_t>(info->dwFileVersionMS & 0xFFFF);
  v.build = static_cast<uint16_t>(info->dwFileVersionLS >> 16);
  v.revision = static_cast<uint16_t>(info->dwFileVersionLS & 0xFFFF);
  return v;
}

std::u16string UpdatePlatformWin32::TempDirectory() {
  wchar_t path[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, path);
  if (n == 0 || n > MAX_PATH) return {};
  std::u16string dir(reinterpret_cast<const char16_t*>(path), n);
  if (dir.back() != u'\\' && dir.back() != u'/') dir += u'\\';
  return dir;
}

std::unique_ptr<ILocalFile> UpdatePlatformWin32::CreateFileForWrite(const std::u16string& path) {
  HANDLE file = CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<LocalFile>(file);
}

std::unique_ptr<IByteSource> UpdatePlatformWin32::OpenFileForRead(const std::u16string& path) {
  // Others may go on reading, writing or renaming it: this only looks.
  parlex::win32::ScopedKernelHandle file(CreateFileW(W(path), GENERIC_READ,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0) return nullptr;
  return std::make_unique<FileBytes>(std::move(file), static_cast<uint64_t>(size.QuadPart));
}

bool UpdatePlatformWin32::RemoveFile(const std::u16string& path) { return DeleteFileW(W(path)) != FALSE; }

bool UpdatePlatformWin32::RenameFile(const std::u16string& from, const std::u16string& to, bool atRestart) {
  DWORD flags = atRestart ? MOVEFILE_DELAY_UNTIL_REBOOT : MOVEFILE_COPY_ALLOWED;
  return MoveFileExW(W(from), W(to), flags) != FALSE;
}

}  // namespace parlex::update::win32
