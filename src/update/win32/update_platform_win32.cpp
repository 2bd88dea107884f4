#include "update/win32/update_platform_win32.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "update/update_texts.h"
#include "update/win32/bounded_worker.h"

namespace parlex::update::win32 {

namespace {

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

class RemoteFile : public IRemoteFile {
 public:
  RemoteFile(HINTERNET request, int64_t announced)
      : request_(std::make_shared<SharedInternetHandle>(request)), announced_(announced) {}
  ~RemoteFile() override { request_->Release(); }
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
    bool inTime = SharedInternetHandle::RunCall(
        worker_, request_,
        [result](HINTERNET request) {
          result->ok = InternetReadFile(request, result->data.data(), static_cast<DWORD>(result->data.size()),
                                        &result->got);
        },
        idleMs);
    if (!inTime || !result->ok || result->got > capacity) return -1;
    std::memcpy(buffer, result->data.data(), result->got);
    return static_cast<ptrdiff_t>(result->got);
  }

 private:
  std::shared_ptr<SharedInternetHandle> request_;
  int64_t announced_;
  int idleMs_ = -1;
  BoundedWorker worker_;
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

}  // namespace

UpdatePlatformWin32::UpdatePlatformWin32()
    : internetHandle_(InternetOpenW(W(kAgentName), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)),
      session_(std::make_shared<SharedInternetHandle>(internetHandle_)) {}

UpdatePlatformWin32::~UpdatePlatformWin32() {
  // Closed now, or by an open that was given up on once it ends.
  session_->Release();
}

bool UpdatePlatformWin32::IsConnected() {
  DWORD flags = 0;
  return internetHandle_ != nullptr && InternetGetConnectedState(&flags, 0);
}

std::unique_ptr<IRemoteFile> UpdatePlatformWin32::OpenRemoteFile(std::u16string& url, int waitMs) {
  if (internetHandle_ == nullptr) return nullptr;
  wchar_t canonical[1024] = {};
  DWORD length = 1024;
  if (!InternetCanonicalizeUrlW(W(url), canonical, &length, ICU_BROWSER_MODE)) return nullptr;
  // Children of the session take its waits where the host honours them; the
  // helper thread makes sure of the bound where it does not.
  SetTimeouts(internetHandle_, waitMs, true);
  struct Result {
    std::mutex mutex;
    HINTERNET request = nullptr;
    bool finished = false;
    bool abandoned = false;
  };
  auto result = std::make_shared<Result>();
  std::wstring target = canonical;
  BoundedWorker worker;
  SharedInternetHandle::RunCall(
      worker, session_,
      [result, target](HINTERNET session) {
        HINTERNET h = InternetOpenUrlW(session, target.c_str(), nullptr, 0, kOpenUrlFlags, 0);
        std::lock_guard<std::mutex> lock(result->mutex);
        if (result->abandoned && h != nullptr) {
          InternetCloseHandle(h);
          h = nullptr;
        }
        result->request = h;
        result->finished = true;
      },
      waitMs);
  HINTERNET request = nullptr;
  {
    std::lock_guard<std::mutex> lock(result->mutex);
    if (result->finished) {
      request = result->request;
    } else {
      result->abandoned = true;
    }
  }
  url.assign(reinterpret_cast<const char16_t*>(canonical));
  if (request == nullptr) return nullptr;
  DWORD status = 0;
  DWORD size = sizeof status;
  // An error page is never a version text nor the program.
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
      status != HTTP_STATUS_OK) {
    InternetCloseHandle(request);
    return nullptr;
  }
  return std::make_unique<RemoteFile>(request, QueryContentLength(request));
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

bool UpdatePlatformWin32::RemoveFile(const std::u16string& path) { return DeleteFileW(W(path)) != FALSE; }

bool UpdatePlatformWin32::RenameFile(const std::u16string& from, const std::u16string& to, bool atRestart) {
  DWORD flags = atRestart ? MOVEFILE_DELAY_UNTIL_REBOOT : MOVEFILE_COPY_ALLOWED;
  return MoveFileExW(W(from), W(to), flags) != FALSE;
}

}  // namespace parlex::update::win32
