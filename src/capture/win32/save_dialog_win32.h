// The question where a capture is saved: the common save dialog with the
// capture's name, extension and filter.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace parlex::win32 {

// Initial file name of the save question.
inline constexpr wchar_t kSaveInitialName[] = L"Ostrel截屏未命名";
// Characters of the path buffer, terminator included.
inline constexpr size_t kSavePathUnits = 260;

// Runs GetSaveFileNameW modally, owned by `owner`: the chosen path, or none
// when the agent cancels or the dialog fails.
std::optional<std::u16string> AskSavePathWin32(HWND owner);

}  // namespace parlex::win32
