#include "capture/win32/capture_files_win32.h"

#include <shlobj.h>

#include <array>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace parlex::win32 {

namespace {

bool IsAbsolute(std::u16string_view path) {
  if (path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/')) return true;
  return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';  // UNC
}

std::u16string WithSeparator(std::u16string dir) {
  if (!dir.empty() && dir.back() != u'\\' && dir.back() != u'/') dir.push_back(u'\\');
  return dir;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x10000000u ? 0x10000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Creates the file with `disposition` and writes it; a file left half written
// is removed.
bool CreateAndWrite(const std::u16string& path, std::string_view bytes, DWORD disposition, DWORD flags) {
  const std::wstring wide = ToWide(path);
  ScopedKernelHandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL | flags, nullptr));
  if (!file) return false;
  const bool ok = WriteAll(file.Get(), bytes);
  file.Reset();
  if (!ok) ::DeleteFileW(wide.c_str());
  return ok;
}

}  // namespace

std::u16string CaptureFilesWin32::TempDirectory() {
  std::array<wchar_t, MAX_PATH + 1> buffer{};
  const DWORD n = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n >= buffer.size()) return {};
  std::u16string dir = FromWide(std::wstring_view(buffer.data(), n));
  if (!IsAbsolute(dir)) return {};
  return WithSeparator(std::move(dir));
}

std::u16string CaptureFilesWin32::PicturesDirectory() {
  std::array<wchar_t, MAX_PATH> buffer{};
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, SHGFP_TYPE_CURRENT, buffer.data())) &&
      buffer[0] != 0) {
    return WithSeparator(FromWide(buffer.data()));
  }
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, buffer.data())) &&
      buffer[0] != 0) {
    return WithSeparator(FromWide(buffer.data()));
  }
  return {};
}

bool CaptureFilesWin32::WriteFile(const std::u16string& path, std::string_view bytes) {
  return CreateAndWrite(path, bytes, CREATE_ALWAYS, 0);
}

bool CaptureFilesWin32::WritePrivateFile(const std::u16string& path, std::string_view bytes) {
  // Whatever someone left there goes first: DeleteFileW removes a link or
  // junction itself, never its target. Then only a file of our own making is
  // written: CREATE_NEW fails if anything appeared meanwhile, and the reparse
  // flag keeps the call from following one. No security attributes: the
  // file gets the user's default protection.
  RemoveFile(path);
  return CreateAndWrite(path, bytes, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT);
}

void CaptureFilesWin32::RemoveFile(const std::u16string& path) {
  const std::wstring wide = ToWide(path);
  ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(wide.c_str());
}

bool CaptureFilesWin32::MoveFile(const std::u16string& from, const std::u16string& to) {
  return ::MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), MOVEFILE_COPY_ALLOWED) != 0;
}

bool CaptureFilesWin32::FileExists(const std::u16string& path) {
  return ::GetFileAttributesW(ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

LocalTime CaptureFilesWin32::Now() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace parlex::win32
