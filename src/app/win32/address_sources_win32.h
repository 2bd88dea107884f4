// Where the Windows program finds its deployment's addresses: the machine's
// policy HKLM\Software\Policies\Parlex, then the user's HKCU\Software\Parlex,
// each with the string values ChatUrl and UpdateUrl.
#pragma once

#include <windows.h>

#include <vector>

#include "app/address_settings.h"

namespace parlex::app::win32 {

inline constexpr wchar_t kPolicyKey[] = L"Software\\Policies\\Parlex";
inline constexpr wchar_t kUserKey[] = L"Software\\Parlex";

// The values of one key; none when the key does not exist. A value that is
// not a string is a source with an error.
std::vector<SettingSource> ReadRegistrySources();

// One key, for the tests: root and subkey as above.
bool ReadRegistrySource(HKEY root, const wchar_t* subkey, std::u16string name, SettingSource* out);

}  // namespace parlex::app::win32
