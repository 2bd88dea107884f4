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
    : m_entries(std::move(entries)) {
  m_nid.cbSize = kRecordSize;
  m_nid.hWnd = owner;
  m_nid.uFlags = NIF_MESSAGE;
  m_nid.uCallbackMessage = g_uIconNotifiedMessage;
  if (m_entries.empty()) return;
  const TrayIconEntry& entry = *m_entries[m_nCurrent];
  if (entry.hIcon) {
    m_nid.uFlags |= NIF_ICON;
    m_nid.hIcon = entry.hIcon;
    m_nid.uID = entry.uId;
  }
  if (entry.pszTip) {
    m_nid.uFlags |= NIF_TIP;
    CopyField(m_nid.szTip, CutAtUnits(AsU16(entry.pszTip), kTipUnits));
  }
}

CTrayIcon::~CTrayIcon() { Destroy(); }

BOOL CTrayIcon::Show() {
  if (!m_bHidden) return TRUE;
  // Clears a hidden state of an icon that is already there; for an icon not
  // yet added the shell refuses it, and that refusal is the answer.
  m_nid.uFlags = NIF_STATE;
  m_nid.dwState = 0;
  m_nid.dwStateMask = NIS_HIDDEN;
  BOOL result = SendToShell(NIM_MODIFY, m_nid);
  m_bHidden = FALSE;

  m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  SendToShell(NIM_ADD, m_nid);
  // The shell keeps its own copy; ours is never sent again.
  if (!m_entries.empty() && m_entries[m_nCurrent]->hIcon) {
    ::DestroyIcon(m_entries[m_nCurrent]->hIcon);
    m_entries[m_nCurrent]->hIcon = nullptr;
  }
  m_nid.hIcon = nullptr;
  return result;
}

void CTrayIcon::AddAgain(HICON icon) {
  if (m_bHidden || m_bDestroyed) {
    if (icon) ::DestroyIcon(icon);
    return;
  }
  m_nid.hIcon = icon;
  if (icon && !m_entries.empty()) m_nid.uID = m_entries[m_nCurrent]->uId;
  m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  SendToShell(NIM_ADD, m_nid);
  m_nid.hIcon = nullptr;
  if (icon) ::DestroyIcon(icon);
}

void CTrayIcon::Balloon(std::u16string_view title, std::u16string_view text) {
  // Only the balloon: the icon, tip and callback are not sent again.
  m_nid.uFlags = NIF_INFO;
  m_nid.dwInfoFlags = NIIF_NONE;
  CopyField(m_nid.szInfoTitle, BalloonTitle(title));
  CopyField(m_nid.szInfo, BalloonText(text));
  SendToShell(NIM_MODIFY, m_nid);
}

void CTrayIcon::Destroy() {
  if (m_bDestroyed) return;
  m_bDestroyed = true;
  SendToShell(NIM_DELETE, m_nid);
  for (std::unique_ptr<TrayIconEntry>& entry : m_entries) {
    if (!entry) continue;
    entry->pszTip = nullptr;
    if (entry->hIcon) ::DestroyIcon(entry->hIcon);
    entry.reset();
  }
  m_entries.clear();
}

}  // namespace parlex::app::win32
