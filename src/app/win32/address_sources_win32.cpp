#include "app/win32/address_sources_win32.h"

#include <string>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace parlex::app::win32 {
namespace {

// Longer than any address; a longer value is refused as not one.
constexpr DWORD kMaxValueUnits = 2048;

// Reads one value into *out; false (with *error set) for a value that is
// there but no string.
bool ReadValue(HKEY key, const char16_t* name, const std::u16string& source,
               std::optional<std::u16string>* out, std::u16string* error) {
  DWORD type = 0;
  DWORD bytes = 0;
  const wchar_t* wideName = parlex::win32::AsWide(name);
  LONG rc = ::RegQueryValueExW(key, wideName, nullptr, &type, nullptr, &bytes);
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || bytes > kMaxValueUnits * 2) {
    *error = source + u"\\" + name + u": not a string value (不是字符串值)";
    return false;
  }
  std::wstring value(bytes / 2 + 1, L'\0');
  rc = ::RegQueryValueExW(key, wideName, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes);
  if (rc != ERROR_SUCCESS) {
    *error = source + u"\\" + name + u": cannot be read (无法读取)";
    return false;
  }
  value.resize(bytes / 2);
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[kMaxValueUnits];
    const DWORD n = ::ExpandEnvironmentStringsW(value.c_str(), expanded, kMaxValueUnits);
    if (n > 0 && n <= kMaxValueUnits) value.assign(expanded, n - 1);
  }
  *out = parlex::win32::FromWide(value);
  return true;
}

}  // namespace

bool ReadRegistrySource(HKEY root, const wchar_t* subkey, std::u16string name, SettingSource* out) {
  // The policy lives in the machine's own view of the registry, which a
  // 32-bit program on 64-bit Windows reaches only by asking for it.
  const REGSAM access = KEY_QUERY_VALUE | (root == HKEY_LOCAL_MACHINE ? KEY_WOW64_64KEY : 0);
  HKEY opened = nullptr;
  const LONG rc = ::RegOpenKeyExW(root, subkey, 0, access, &opened);
  parlex::win32::ScopedRegKey key;
  if (rc == ERROR_SUCCESS) key.Reset(opened);
  if (rc == ERROR_FILE_NOT_FOUND) return false;
  SettingSource source;
  source.name = std::move(name);
  if (rc != ERROR_SUCCESS) {
    source.error = source.name + u": cannot be opened (无法读取设置)";
  } else if (ReadValue(key.Get(), kChatUrlKey, source.name, &source.chatUrl, &source.error)) {
    ReadValue(key.Get(), kUpdateUrlKey, source.name, &source.updateUrl, &source.error);
  }
  *out = std::move(source);
  return true;
}

std::vector<SettingSource> ReadRegistrySources() {
  std::vector<SettingSource> sources;
  SettingSource source;
  if (ReadRegistrySource(HKEY_LOCAL_MACHINE, kPolicyKey, u"HKLM\\Software\\Policies\\Parlex", &source))
    sources.push_back(std::move(source));
  if (ReadRegistrySource(HKEY_CURRENT_USER, kUserKey, u"HKCU\\Software\\Parlex", &source))
    sources.push_back(std::move(source));
  return sources;
}

}  // namespace parlex::app::win32
