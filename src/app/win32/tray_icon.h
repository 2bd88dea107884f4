// The program's icon in the taskbar's notification area: added once at
// start, carrying the tip and the callback message, showing balloons, and
// removed right before the main window goes.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string_view>
#include <vector>

namespace parlex::app::win32 {

// One icon of the icon list.
struct TrayIconEntry {
  UINT uId = 0;
  HICON hIcon = nullptr;            // destroyed by CTrayIcon::Show once the shell has its copy
  const wchar_t* pszTip = nullptr;  // a constant text, not owned
};

// Every request to the notification area goes through this function; a test
// puts its own in place to see the requests. Answers the one it replaces.
using ShellNotifyIconProc = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);
ShellNotifyIconProc SetShellNotifyIconProc(ShellNotifyIconProc proc);

class CTrayIcon {
 public:
  // The record's size: the version-3 layout, without the trailing balloon
  // icon handle, which every shell since then still accepts.
  static constexpr DWORD kRecordSize = 952;

  // Prepares the record for the owner's icon from the current (first)
  // entry; nothing is sent to the shell yet.
  CTrayIcon(HWND owner, std::vector<std::unique_ptr<TrayIconEntry>> entries);
  CTrayIcon(const CTrayIcon&) = delete;
  CTrayIcon& operator=(const CTrayIcon&) = delete;
  // Removes the icon if Destroy has not.
  ~CTrayIcon();

  // Adds the icon (the first time only). Answers whether the shell took the
  // request that clears a hidden state: false for an icon added just now.
  BOOL Show();
  // Adds the icon again with this icon handle (destroyed afterwards), tip
  // and callback: after a restart of the taskbar the shell has forgotten it.
  void AddAgain(HICON icon);
  // A balloon on the icon; the icon, tip and callback stay as they are.
  void Balloon(std::u16string_view title, std::u16string_view text);
  // Removes the icon and frees the entries.
  void Destroy();

  const NOTIFYICONDATAW& Record() const { return record_; }

 private:
  NOTIFYICONDATAW record_{};
  std::vector<std::unique_ptr<TrayIconEntry>> entries_;
  size_t current_ = 0;
  BOOL hidden_ = TRUE;
  bool destroyed_ = false;
};

}  // namespace parlex::app::win32
