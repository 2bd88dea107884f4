// MIME types from the registry: the "Content Type" value of the extension's
// key under HKEY_CLASSES_ROOT.
#include <windows.h>

#include <string>

#include "http/mime_type.h"
#include "http/win32/wininet_transport.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace parlex {

namespace {

// The room the value is read into: 511 units and the terminator.
constexpr DWORD kTypeBytes = 1024;

}  // namespace

std::u16string win32::LookupRegistryMimeType(std::u16string_view key) {
  // A key is an extension: with a '\' in it, it would name a subkey path of
  // some other registration rather than an extension.
  if (key.empty() || key.find(u'\\') != std::u16string_view::npos) return {};
  std::wstring name = win32::ToWide(key);
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
    return {};
  const win32::ScopedRegKey handle(opened);
  wchar_t value[kTypeBytes / sizeof(wchar_t) + 1] = {};
  DWORD type = 0;
  DWORD bytes = kTypeBytes;
  LONG result = ::RegQueryValueExW(handle.Get(), L"Content Type", nullptr, &type,
                                   reinterpret_cast<BYTE*>(value), &bytes);
  if (result != ERROR_SUCCESS || type != REG_SZ) return {};
  // The stored text may or may not carry its terminator; the extra unit of
  // the buffer is always zero.
  std::wstring_view text(value, bytes / sizeof(wchar_t));
  text = text.substr(0, text.find(L'\0'));
  return win32::FromWide(text);
}

}  // namespace parlex
