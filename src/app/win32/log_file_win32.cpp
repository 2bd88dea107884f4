#include "app/win32/log_file_win32.h"

#include <shlobj.h>

#include <utility>

namespace parlex::app::win32 {
namespace {

using parlex::win32::ScopedKernelHandle;

// Shared by every copy in the user's session.
constexpr wchar_t kLogMutexName[] = L"Local\\ParlexSupportLog";
// A copy that holds the mutex longer than this (it hangs) costs the others
// their lines, never their time.
constexpr DWORD kMutexWaitMs = 200;

int64_t AsMinutes(const SYSTEMTIME& time) {
  FILETIME file{};
  ::SystemTimeToFileTime(&time, &file);
  const int64_t ticks = (static_cast<int64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
  return ticks / 600000000;
}

}  // namespace

std::wstring LogPath() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    return std::wstring();
  return std::wstring(folder) + L"\\Parlex\\parlex.log";
}

LogFileWin32::LogFileWin32(std::wstring path) : path_(std::move(path)) {
  mutex_.Reset(::CreateMutexW(nullptr, FALSE, kLogMutexName));
}

supportlog::Stamp LogFileWin32::Now() {
  SYSTEMTIME utc{};
  ::GetSystemTime(&utc);
  SYSTEMTIME local{};
  if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  return {
      local.wYear,   local.wMonth,  local.wDay,          local.wHour,
      local.wMinute, local.wSecond, local.wMilliseconds, static_cast<int>(AsMinutes(local) - AsMinutes(utc))};
}

void LogFileWin32::Append(std::string_view line) {
  if (path_.empty() || !mutex_) return;
  if (!folderMade_) {
    ::CreateDirectoryW(path_.substr(0, path_.rfind(L'\\')).c_str(), nullptr);
    folderMade_ = true;
  }
  const DWORD waited = ::WaitForSingleObject(mutex_.Get(), kMutexWaitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return;
  for (int attempt = 0; attempt < 2; ++attempt) {
    ScopedKernelHandle file(::CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) break;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size)) break;
    if (attempt == 0 && supportlog::NeedsRotation(static_cast<uint64_t>(size.QuadPart), line.size())) {
      file.Reset();
      if (!::MoveFileExW(path_.c_str(), (path_ + L".1").c_str(), MOVEFILE_REPLACE_EXISTING)) break;
      continue;
    }
    DWORD written = 0;
    ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    break;
  }
  ::ReleaseMutex(mutex_.Get());
}

}  // namespace parlex::app::win32
