// A file type registered under HKEY_CLASSES_ROOT for the length of a test.
// A key that already exists is left as it is (on Windows ".jpg" is always
// registered; a bare Wine prefix has no such registration).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace parlex::test {

class ScopedMimeRegistration {
 public:
  // The "Content Type" value as a string.
  ScopedMimeRegistration(std::u16string_view extension, std::u16string_view type)
      : ScopedMimeRegistration(extension, REG_SZ, type.data(), (type.size() + 1) * sizeof(char16_t)) {}
  // Any value type and data, or no value at all (data == nullptr).
  ScopedMimeRegistration(std::u16string_view extension, DWORD valueType, const void* data, size_t bytes)
      : name_(reinterpret_cast<const wchar_t*>(extension.data()), extension.size()) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, name_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                          &disposition) != ERROR_SUCCESS)
      return;
    created_ = disposition == REG_CREATED_NEW_KEY;
    if (created_ && data != nullptr) {
      ::RegSetValueExW(key, L"Content Type", 0, valueType, static_cast<const BYTE*>(data),
                       static_cast<DWORD>(bytes));
    }
    ::RegCloseKey(key);
  }
  ~ScopedMimeRegistration() {
    if (created_) ::RegDeleteKeyW(HKEY_CLASSES_ROOT, name_.c_str());
  }
  ScopedMimeRegistration(const ScopedMimeRegistration&) = delete;
  ScopedMimeRegistration& operator=(const ScopedMimeRegistration&) = delete;

  bool Created() const { return created_; }

 private:
  std::wstring name_;
  bool created_ = false;
};

}  // namespace parlex::test
