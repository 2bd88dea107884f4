#include "app/win32/tray_icon.h"

#include <cstddef>
#include <string>

#include "app/bridge.h"
#include "app/win32/tray_messages.h"
#include "common/text.h"
#include "platform/win32/wide_text.h"

namespace parlex::app::win32 {

using parlex::win32::AsU16;
using parlex::win32::AsWide;

static_assert(offsetof(NOTIFYICONDATAW, hBalloonIcon) == CTrayIcon::kRecordSize,
              "the record size is the offset of the balloon icon handle");

namespace {

ShellNotifyIconProc g_pfnShellNotifyIcon = &::Shell_NotifyIconW;

BOOL SendToShell(DWORD message, NOTIFYICONDATAW& data) { return g_pfnShellNotifyIcon(message, &data); }

// Copies text with its terminator into a fixed field (text already fits).
template <size_t N>
void CopyField(wchar_t (&field)[N], std::u16string_view text) {
  size_t units = text.size() < N ? text.size() : N - 1;
  text.copy(AsU16(field), units);
  field[units] = L'\0';
}

}  // namespace

ShellNotifyIconProc SetShellNotifyIconProc(ShellNotifyIconProc proc) {
  ShellNotifyIconProc previous = g_pfnShellNotifyIcon;
  g_pfnShellNotifyIcon = proc ? proc : &::Shell_NotifyIconW;
  return previous;
}

CTrayIcon::CTrayIcon(HWND owner, std::vector<std::unique_ptr<TrayIconEntry>> entries)
    : entries_(std::move(entries)) {
  record_.cbSize = kRecordSize;
  record_.hWnd = owner;
  record_.uFlags = NIF_MESSAGE;
  record_.uCallbackMessage = g_uIconNotifiedMessage;
  if (entries_.empty()) return;
  const TrayIconEntry& entry = *entries_[current_];
  if (entry.hIcon) {
    record_.uFlags |= NIF_ICON;
    record_.hIcon = entry.hIcon;
    record_.uID = entry.uId;
  }
  if (entry.pszTip) {
    record_.uFlags |= NIF_TIP;
    CopyField(record_.szTip, CutAtUnits(AsU16(entry.pszTip), kTipUnits));
  }
}

CTrayIcon::~CTrayIcon() { Destroy(); }

BOOL CTrayIcon::Show() {
  if (!hidden_) return TRUE;
  // Clears a hidden state of an icon that is already there; for an icon not
  // yet added the shell refuses it, and that refusal is the answer.
  record_.uFlags = NIF_STATE;
  record_.dwState = 0;
  record_.dwStateMask = NIS_HIDDEN;
  BOOL result = SendToShell(NIM_MODIFY, record_);
  hidden_ = FALSE;

  record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  SendToShell(NIM_ADD, record_);
  // The shell keeps its own copy; ours is never sent again.
  if (!entries_.empty() && entries_[current_]->hIcon) {
    ::DestroyIcon(entries_[current_]->hIcon);
    entries_[current_]->hIcon = nullptr;
  }
  record_.hIcon = nullptr;
  return result;
}

void CTrayIcon::AddAgain(HICON icon) {
  if (hidden_ || destroyed_) {
    if (icon) ::DestroyIcon(icon);
    return;
  }
  record_.hIcon = icon;
  if (icon && !entries_.empty()) record_.uID = entries_[current_]->uId;
  record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  SendToShell(NIM_ADD, record_);
  record_.hIcon = nullptr;
  if (icon) ::DestroyIcon(icon);
}

void CTrayIcon::Balloon(std::u16string_view title, std::u16string_view text) {
  // Only the balloon: the icon, tip and callback are not sent again.
  record_.uFlags = NIF_INFO;
  record_.dwInfoFlags = NIIF_NONE;
  CopyField(record_.szInfoTitle, BalloonTitle(title));
  CopyField(record_.szInfo, BalloonText(text));
  SendToShell(NIM_MODIFY, record_);
}

void CTrayIcon::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  SendToShell(NIM_DELETE, record_);
  for (std::unique_ptr<TrayIconEntry>& entry : entries_) {
    if (!entry) continue;
    entry->pszTip = nullptr;
    if (entry->hIcon) ::DestroyIcon(entry->hIcon);
    entry.reset();
  }
  entries_.clear();
}

}  // namespace parlex::app::win32
