#include "capture/win32/save_dialog_win32.h"

#include <commdlg.h>

#include <array>
#include <cwchar>

#include "platform/win32/wide_text.h"

namespace parlex::win32 {

std::optional<std::u16string> AskSavePathWin32(HWND owner) {
  std::array<wchar_t, kSavePathUnits> path{};
  std::wcsncpy(path.data(), kSaveInitialName, path.size() - 1);
  // One filter entry; the list ends with an empty entry (two terminators).
  static constexpr wchar_t kFilter[] = L"JPEG (*.jpg;*.jpeg)\0*.jpg;*.jpeg\0";

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrDefExt = L"jpg";
  ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER | OFN_ENABLESIZING;
  if (!::GetSaveFileNameW(&ofn)) return std::nullopt;
  return FromWide(path.data());
}

}  // namespace parlex::win32
