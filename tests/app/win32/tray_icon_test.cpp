// The tray icon as the notification area sees it: the requests, their
// order, sizes, flags and texts; the callback events; the menu; the ways out.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/tray_messages.h"
#include "main_dlg_fixture.h"
#include "resource.h"

namespace parlex::app::win32::testing {
namespace {

bool IconAlive(HICON icon) {
  ICONINFO info{};
  if (!::GetIconInfo(icon, &info)) return false;
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  if (info.hbmMask) ::DeleteObject(info.hbmMask);
  return true;
}

TEST_F(MainDlgTest, StartAddsTheIconAndGreetsWhileHiddenAndTheMenusExitRemovesItFirst) {
  TestMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  const auto& calls = ShellRecorder::requests;
  ASSERT_EQ(calls.size(), 3u);
  for (const ShellRequest& r : calls) {
    EXPECT_EQ(r.cbSize, 952u);
    EXPECT_EQ(r.hwnd, hwnd);
    EXPECT_FALSE(r.ownerVisible);
  }
  // Clearing a hidden state of an icon not there yet: refused.
  EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(calls[0].flags, static_cast<UINT>(NIF_STATE));
  EXPECT_EQ(calls[0].state, 0u);
  EXPECT_EQ(calls[0].stateMask, static_cast<DWORD>(NIS_HIDDEN));

  const ShellRequest& add = calls[1];
  EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(add.flags, 7u);  // message, icon, tip
  EXPECT_EQ(add.uId, 128u);
  EXPECT_EQ(add.callback, g_uIconNotifiedMessage);
  EXPECT_NE(add.callback, 0u);
  EXPECT_EQ(add.tip, L"Ostrel");
  ASSERT_TRUE(add.icon);
  // The shell keeps its copy; ours is gone.
  EXPECT_FALSE(IconAlive(add.icon));

  const ShellRequest& welcome = calls[2];
  EXPECT_EQ(welcome.message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(welcome.flags, static_cast<UINT>(NIF_INFO));
  EXPECT_EQ(welcome.infoFlags, static_cast<DWORD>(NIIF_NONE));
  EXPECT_EQ(welcome.title, L"Ostrel");
  EXPECT_EQ(welcome.text, L"欢迎使用Ostrel登录器");
  EXPECT_EQ(welcome.uId, 128u);

  ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_EXIT, 0), 0);
  EXPECT_EQ(loop.Run(), 32778);
  EXPECT_FALSE(::IsWindow(hwnd));
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[3].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(calls[3].uId, 128u);
  EXPECT_TRUE(calls[3].ownerAlive);  // removed before the window went
}

TEST_F(MainDlgTest, TheShellTakesTheRecordAndHasNoIconLeftAfterQuit) {
  ShellRecorder::forwardToShell = true;  // Wine's own notification area
  TestMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  // The hidden state cannot be cleared before the add; the add and the
  // balloon are taken.
  std::vector<BOOL> answers;
  for (const ShellRequest& r : ShellRecorder::requests) answers.push_back(r.answer);
  EXPECT_EQ(answers, (std::vector<BOOL>{FALSE, TRUE, TRUE}));

  dialog.quit();
  EXPECT_EQ(loop.Run(), 0);
  ASSERT_EQ(ShellRecorder::requests.size(), 4u);
  EXPECT_TRUE(ShellRecorder::requests[3].answer);
  // Nothing of ours is left to remove.
  NOTIFYICONDATAW probe{};
  probe.cbSize = CTrayIcon::kRecordSize;
  probe.hWnd = hwnd;
  probe.uID = 128;
  EXPECT_FALSE(::Shell_NotifyIconW(NIM_DELETE, &probe));
}

TEST_F(MainDlgTest, TrayIconShowsOnceBalloonsAreCutAndDestroyRemovesIt) {
  HWND owner = ::CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(owner);
  {
    std::vector<std::unique_ptr<TrayIconEntry>> entries;
    // No icon: the record's icon and identifier stay 0; a tip longer than
    // the record holds.
    entries.push_back(std::make_unique<TrayIconEntry>(TrayIconEntry{128, nullptr, nullptr}));
    std::wstring longTip(200, L'x');
    entries[0]->pszTip = longTip.c_str();
    CTrayIcon tray(owner, std::move(entries));
    EXPECT_EQ(tray.Record().uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_TIP));

    EXPECT_FALSE(tray.Show());
    EXPECT_TRUE(tray.Show());  // already added: nothing sent
    ASSERT_EQ(ShellRecorder::requests.size(), 2u);
    const ShellRequest& add = ShellRecorder::requests[1];
    EXPECT_EQ(add.flags, 7u);
    EXPECT_EQ(add.uId, 0u);
    EXPECT_EQ(add.icon, nullptr);
    EXPECT_EQ(add.tip, std::wstring(127, L'x'));

    // 62 units and a surrogate pair across the limit of 63: the pair goes.
    std::u16string title(62, u'T');
    title += u"\U0001F600tail";
    std::u16string text(300, u'字');
    tray.Balloon(title, text);
    tray.Balloon(u"", u"");
    ASSERT_EQ(ShellRecorder::requests.size(), 4u);
    EXPECT_EQ(ShellRecorder::requests[2].title, std::wstring(62, L'T'));
    EXPECT_EQ(ShellRecorder::requests[2].text, std::wstring(255, L'字'));
    EXPECT_EQ(ShellRecorder::requests[2].flags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(ShellRecorder::requests[3].title, L"");
    EXPECT_EQ(ShellRecorder::requests[3].text, L"");

    tray.Destroy();
    ASSERT_EQ(ShellRecorder::requests.size(), 5u);
    EXPECT_EQ(ShellRecorder::requests[4].message, static_cast<DWORD>(NIM_DELETE));
  }
  // Its end after Destroy sends nothing more.
  EXPECT_EQ(ShellRecorder::requests.size(), 5u);
  ::DestroyWindow(owner);
}

TEST_F(MainDlgTest, ARestartedTaskbarGetsTheIconAgain) {
  TestMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  ShellRecorder::requests.clear();
  EXPECT_EQ(::SendMessageW(hwnd, g_uTaskbarCreatedMessage, 0, 0), 0);
  ASSERT_EQ(ShellRecorder::requests.size(), 1u);
  const ShellRequest& add = ShellRecorder::requests[0];
  EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(add.flags, 7u);
  EXPECT_EQ(add.cbSize, 952u);
  EXPECT_EQ(add.uId, 128u);
  EXPECT_EQ(add.callback, g_uIconNotifiedMessage);
  EXPECT_EQ(add.tip, L"Ostrel");
  ASSERT_TRUE(add.icon);
  EXPECT_FALSE(IconAlive(add.icon));
}

TEST_F(MainDlgTest, IconEventsShowTheWindowOnPressAndBalloonClickOnly) {
  TestMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  auto notify = [&](UINT event) { return ::SendMessageW(hwnd, g_uIconNotifiedMessage, 128, event); };

  for (UINT ignored :
       std::initializer_list<UINT>{WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_MOUSEMOVE, WM_MBUTTONDOWN,
                                   NIN_BALLOONSHOW, NIN_BALLOONHIDE, NIN_BALLOONTIMEOUT}) {
    EXPECT_EQ(notify(ignored), 0);
    EXPECT_FALSE(::IsWindowVisible(hwnd)) << ignored;
  }
  // The event is the low word only.
  EXPECT_EQ(notify(MAKELPARAM(WM_LBUTTONDOWN, 0x1234)), 0);
  EXPECT_TRUE(::IsWindowVisible(hwnd));
  ::ShowWindow(hwnd, SW_HIDE);
  EXPECT_EQ(notify(NIN_BALLOONUSERCLICK), 0);
  EXPECT_TRUE(::IsWindowVisible(hwnd));
  // Another message number with the same event does nothing.
  ::ShowWindow(hwnd, SW_HIDE);
  ::SendMessageW(hwnd, WM_APP, 128, WM_LBUTTONDOWN);
  EXPECT_FALSE(::IsWindowVisible(hwnd));
}

// The visible popup menu of this process, or null.
HWND FindPopupMenu() {
  HWND menu = nullptr;
  while ((menu = ::FindWindowExW(nullptr, menu, L"#32768", nullptr))) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(menu, &pid);
    if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(menu)) return menu;
  }
  return nullptr;
}

TEST_F(MainDlgTest, RightPressOpensTheMenuLeftOfTheCursorAndItsShowItemShowsTheWindow) {
  TestMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  ASSERT_TRUE(::SetCursorPos(800, 500));
  POINT cursor{};
  ::GetCursorPos(&cursor);

  // The menu runs its own loop inside the handler; a helper thread looks at
  // it and picks "显示" with the keyboard.
  std::vector<std::wstring> items;
  RECT menuRect{};
  std::atomic<bool> found{false};
  std::thread picker([&] {
    HWND menu = nullptr;
    for (int i = 0; i < 500 && !(menu = FindPopupMenu()); ++i) ::Sleep(10);
    if (!menu) return;
    ::GetWindowRect(menu, &menuRect);
    HMENU handle = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
    for (int i = 0; handle && i < ::GetMenuItemCount(handle); ++i) {
      wchar_t text[64] = {};
      ::GetMenuStringW(handle, i, text, 64, MF_BYPOSITION);
      items.push_back(::GetMenuItemID(handle, i) == 0 ? L"-" : text);
    }
    found = true;
    ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    // A menu that did not take the keys is closed, so the test cannot hang.
    for (int i = 0; i < 300 && FindPopupMenu(); ++i) ::Sleep(10);
    if (FindPopupMenu()) {
      found = false;
      ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
      ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
      ::PostMessageW(hwnd, WM_CANCELMODE, 0, 0);
    }
  });
  EXPECT_EQ(::SendMessageW(hwnd, g_uIconNotifiedMessage, 128, WM_RBUTTONDOWN), 0);
  picker.join();
  ASSERT_TRUE(found) << "no menu appeared, or it did not take the keys";
  EXPECT_EQ(items, (std::vector<std::wstring>{L"显示", L"-", L"退出"}));
  EXPECT_EQ(menuRect.right, cursor.x);
  EXPECT_EQ(menuRect.top, cursor.y);
  Pump();
  EXPECT_TRUE(::IsWindowVisible(hwnd));
}

}  // namespace
}  // namespace parlex::app::win32::testing
