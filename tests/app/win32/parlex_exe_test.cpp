// Parlex.exe as the agent meets it: one copy per session, the main window
// and its sizing, hiding on close, the ways out and their exit codes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "parlex_process.h"

namespace parlex::app::win32::testing {
namespace {

constexpr DWORD kExitWait = 20000;
constexpr int kBrowserId = 1001;

RECT WindowRect(HWND hwnd) {
  RECT rect{};
  ::GetWindowRect(hwnd, &rect);
  return rect;
}

RECT ClientRect(HWND hwnd) {
  RECT rect{};
  ::GetClientRect(hwnd, &rect);
  return rect;
}

RECT RectInParent(HWND child) {
  RECT rect = WindowRect(child);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Sends and waits for the answer: hiding and showing can take Wine a while
// when no window manager answers it.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, 15000, &result);
  return static_cast<LRESULT>(result);
}

// The size gripper: the dialog's scroll-bar child.
HWND FindGripper(HWND dialog) {
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (ClassName(child) == L"ScrollBar") return child;
  }
  return nullptr;
}

// How many pixels of a window's rectangle show this colour on the screen.
int PixelsOnScreen(HWND hwnd, COLORREF colour) {
  RECT rect = WindowRect(hwnd);
  HDC screen = ::GetDC(nullptr);
  int count = 0;
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) count += ::GetPixel(screen, x, y) == colour;
  }
  ::ReleaseDC(nullptr, screen);
  return count;
}

// Finds the second copy's message box, checks its text and clicks its OK.
void ExpectAlreadyRunningBoxAndClickOk(DWORD pid) {
  HWND box = WaitForWindow(pid, L"#32770", L"提醒", 30000);
  ASSERT_TRUE(box) << "no message box from the second copy";
  std::wstring text;
  int buttons = 0;
  int icons = 0;
  HWND ok = nullptr;
  for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    std::wstring cls = ClassName(child);
    // An icon static is there, but it holds no icon.
    if (cls == L"Static" && (::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        ::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
      ++icons;
    }
    if (cls == L"Static" && !WindowText(child).empty()) text = WindowText(child);
    if (cls == L"Button" && ::IsWindowVisible(child)) {
      ++buttons;
      if (::GetDlgCtrlID(child) == IDOK) ok = child;
    }
  }
  EXPECT_EQ(text, L"Ostrel登录程序已经启动！");
  EXPECT_EQ(buttons, 1);
  EXPECT_EQ(icons, 0);
  ASSERT_TRUE(ok);
  ::SendMessageTimeoutW(ok, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
}

class ParlexExe : public ::testing::Test {
 protected:
  // Starts the first copy and waits for its window.
  void StartFirst(int showCommand = SW_SHOWNORMAL) {
    ASSERT_TRUE(first.Start(showCommand));
    main = WaitForWindow(first.Id(), L"#32770", L"Ostrel", 30000, showCommand != SW_HIDE);
    ASSERT_TRUE(main) << "the main window did not appear";
    Settle();
  }

  ParlexProcess first;
  HWND main = nullptr;
};

TEST_F(ParlexExe, MainWindowIsCentredAndHostsTheBrowser) {
  StartFirst();
  EXPECT_TRUE(::IsWindowVisible(main));
  LONG_PTR style = ::GetWindowLongPtrW(main, GWL_STYLE);
  EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  EXPECT_TRUE(style & WS_CLIPCHILDREN);
  EXPECT_TRUE(::GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST), &monitor));
  RECT window = WindowRect(main);
  const RECT& work = monitor.rcWork;
  EXPECT_NEAR(window.left - work.left, work.right - window.right, 1);
  EXPECT_NEAR(window.top - work.top, work.bottom - window.bottom, 1);

  // Its icons are checked in-process (main_dlg_test): Wine does not answer
  // WM_GETICON across processes.

  HWND browser = ::GetDlgItem(main, kBrowserId);
  ASSERT_TRUE(browser);
  EXPECT_EQ(ClassName(browser), L"ParlexAxHost");
  // The control itself lives inside the host window.
  EXPECT_TRUE(::GetWindow(browser, GW_CHILD));
  RECT host = RectInParent(browser);
  RECT client = ClientRect(main);
  EXPECT_EQ(host.left, 0);
  EXPECT_EQ(host.top, 0);
  // The template leaves the control a dialog unit short of the client area.
  EXPECT_LE(client.right - host.right, 3);
  EXPECT_LE(client.bottom - host.bottom, 3);
  // The size gripper is on the screen: the browser under it does not paint
  // over it, so none of its pixels has the colour of the (empty) page.
  HWND gripper = FindGripper(main);
  ASSERT_TRUE(gripper);
  Settle(1000);
  RECT page = WindowRect(browser);
  HDC screen = ::GetDC(nullptr);
  COLORREF pageColour = ::GetPixel(screen, (page.left + page.right) / 2, (page.top + page.bottom) / 2);
  ::ReleaseDC(nullptr, screen);
  EXPECT_EQ(PixelsOnScreen(gripper, pageColour), 0);
  EXPECT_TRUE(first.IsRunning());
}

TEST_F(ParlexExe, SecondCopyShowsItsMessageAndEndsWhileTheFirstRunsOn) {
  StartFirst();
  const RECT before = WindowRect(main);

  ParlexProcess second;
  ASSERT_TRUE(second.Start());
  ExpectAlreadyRunningBoxAndClickOk(second.Id());
  DWORD code = 99;
  ASSERT_TRUE(second.WaitForExit(kExitWait, &code));
  EXPECT_EQ(code, 0u);
  // The second copy never made a main window of its own.
  EXPECT_FALSE(WaitForWindow(second.Id(), L"#32770", L"Ostrel", 0, false));

  EXPECT_TRUE(first.IsRunning());
  EXPECT_TRUE(::IsWindowVisible(main));
  RECT after = WindowRect(main);
  EXPECT_TRUE(::EqualRect(&before, &after));

  // A hidden first copy stays hidden.
  Send(main, WM_CLOSE, 0, 0);
  ASSERT_FALSE(::IsWindowVisible(main));
  ParlexProcess third;
  ASSERT_TRUE(third.Start());
  ExpectAlreadyRunningBoxAndClickOk(third.Id());
  ASSERT_TRUE(third.WaitForExit(kExitWait, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(first.IsRunning());
  EXPECT_FALSE(::IsWindowVisible(main));
}

TEST_F(ParlexExe, ClosingHidesTheWindowAndTheProgramKeepsRunning) {
  StartFirst();
  Send(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(main));
  EXPECT_FALSE(::IsWindowVisible(main));
  EXPECT_FALSE(first.WaitForExit(1000, nullptr));

  // The tray's show command brings it back as it was.
  Send(main, WM_COMMAND, MAKEWPARAM(32777, 0), 0);
  EXPECT_TRUE(::IsWindowVisible(main));

  Send(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(::IsWindowVisible(main));
  EXPECT_TRUE(first.IsRunning());

  // Esc becomes the cancel command, which the window leaves alone.
  Send(main, WM_COMMAND, MAKEWPARAM(32777, 0), 0);
  ASSERT_TRUE(::IsWindowVisible(main));
  Send(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
  Send(main, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
  EXPECT_TRUE(::IsWindowVisible(main));
  EXPECT_TRUE(first.IsRunning());
}

TEST_F(ParlexExe, WindowKeepsItsInitialSizeAsMinimumAndTheBrowserFollowsItsSize) {
  StartFirst();
  HWND browser = ::GetDlgItem(main, kBrowserId);
  ASSERT_TRUE(browser);
  const RECT initial = WindowRect(main);
  const int width = initial.right - initial.left;
  const int height = initial.bottom - initial.top;
  const RECT initialClient = ClientRect(main);
  const RECT initialHost = RectInParent(browser);
  const int marginX = initialClient.right - initialHost.right;
  const int marginY = initialClient.bottom - initialHost.bottom;

  ::SetWindowPos(main, nullptr, 0, 0, width / 2, height / 2, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Settle();
  RECT shrunk = WindowRect(main);
  EXPECT_EQ(shrunk.right - shrunk.left, width);
  EXPECT_EQ(shrunk.bottom - shrunk.top, height);

  ::SetWindowPos(main, nullptr, 0, 0, width + 321, height + 123, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Settle();
  RECT client = ClientRect(main);
  RECT host = RectInParent(browser);
  EXPECT_EQ(client.right, initialClient.right + 321);
  EXPECT_EQ(host.left, 0);
  EXPECT_EQ(host.top, 0);
  EXPECT_EQ(client.right - host.right, marginX);
  EXPECT_EQ(client.bottom - host.bottom, marginY);
  // The control inside the host follows too.
  HWND control = ::GetWindow(browser, GW_CHILD);
  ASSERT_TRUE(control);
  RECT controlRect = WindowRect(control);
  RECT hostRect = WindowRect(browser);
  EXPECT_TRUE(::EqualRect(&controlRect, &hostRect));

  HWND gripper = FindGripper(main);
  ASSERT_TRUE(gripper);
  EXPECT_TRUE(::IsWindowVisible(gripper));
  RECT grip = RectInParent(gripper);
  EXPECT_EQ(grip.right, client.right);
  EXPECT_EQ(grip.bottom, client.bottom);

  ::ShowWindow(main, SW_MAXIMIZE);
  Settle();
  EXPECT_TRUE(::IsZoomed(main));
  EXPECT_FALSE(::IsWindowVisible(gripper));
  client = ClientRect(main);
  host = RectInParent(browser);
  EXPECT_EQ(client.right - host.right, marginX);
  EXPECT_EQ(client.bottom - host.bottom, marginY);
  ::ShowWindow(main, SW_RESTORE);
  Settle();
  EXPECT_TRUE(::IsWindowVisible(gripper));
}

TEST_F(ParlexExe, TheQuitCodeIsTheExitCodeAndANextStartProceeds) {
  StartFirst();
  // The tray menu's exit command.
  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(32778, 0), 0);
  DWORD code = 0;
  ASSERT_TRUE(first.WaitForExit(kExitWait, &code));
  EXPECT_EQ(code, 32778u);

  // The mutex went with the process: the next start brings up its window.
  StartFirst();
  DWORD thread = ::GetWindowThreadProcessId(main, nullptr);
  ASSERT_TRUE(::PostThreadMessageW(thread, WM_QUIT, 0, 0));
  ASSERT_TRUE(first.WaitForExit(kExitWait, &code));
  EXPECT_EQ(code, 0u);

  StartFirst();
  thread = ::GetWindowThreadProcessId(main, nullptr);
  ASSERT_TRUE(::PostThreadMessageW(thread, WM_QUIT, 4321, 0));
  ASSERT_TRUE(first.WaitForExit(kExitWait, &code));
  EXPECT_EQ(code, 4321u);
}

TEST_F(ParlexExe, TheTrayCallbackShowsTheHiddenWindowAndARestartedTaskbarChangesNothingElse) {
  StartFirst();
  // Registered by name, so this process and Parlex.exe agree on the number.
  const UINT iconNotified = ::RegisterWindowMessageW(L"IconNotified");
  const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskBarCreated");
  Send(main, WM_CLOSE, 0, 0);
  ASSERT_FALSE(::IsWindowVisible(main));
  // A release and a move do nothing; a left press shows the window.
  EXPECT_EQ(Send(main, iconNotified, 128, WM_LBUTTONUP), 0);
  EXPECT_EQ(Send(main, iconNotified, 128, WM_MOUSEMOVE), 0);
  EXPECT_FALSE(::IsWindowVisible(main));
  EXPECT_EQ(Send(main, iconNotified, 128, WM_LBUTTONDOWN), 0);
  EXPECT_TRUE(::IsWindowVisible(main));
  Send(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(Send(main, iconNotified, 128, 0x0405 /* balloon clicked */), 0);
  EXPECT_TRUE(::IsWindowVisible(main));

  EXPECT_EQ(Send(main, taskbarCreated, 0, 0), 0);
  Settle();
  EXPECT_TRUE(first.IsRunning());
  EXPECT_TRUE(::IsWindowVisible(main));
}

// The icon in Wine's own notification area (a window of Wine's tray holding
// one child window per icon); null when none appears. The test's copy of
// Parlex.exe is the only program here with an icon.
HWND WaitForTrayIcon(DWORD timeoutMs) {
  DWORD start = ::GetTickCount();
  do {
    HWND tray = nullptr;
    while ((tray = ::FindWindowExW(nullptr, tray, L"__winex11_standalone_tray", nullptr))) {
      // Icons are children of the tray; ours is the only one the test made.
      if (HWND icon = ::FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr)) {
        if (::IsWindowVisible(icon)) return icon;
      }
    }
    ::Sleep(50);
  } while (::GetTickCount() - start < timeoutMs);
  return nullptr;
}

// A real click of the mouse at the middle of a window.
void ClickAt(HWND hwnd, DWORD down, DWORD up) {
  RECT rect{};
  ::GetWindowRect(hwnd, &rect);
  ::SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  INPUT input[2]{};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = down;
  input[1].mi.dwFlags = up;
  ::SendInput(2, input, sizeof(INPUT));
}

TEST_F(ParlexExe, ClicksOnItsTrayIconShowTheWindowAndItsMenusExitEndsWith32778) {
  StartFirst();
  HWND icon = WaitForTrayIcon(10000);
  ASSERT_TRUE(icon) << "no icon in the notification area";
  Send(main, WM_CLOSE, 0, 0);
  ASSERT_FALSE(::IsWindowVisible(main));

  ClickAt(icon, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
  DWORD start = ::GetTickCount();
  while (!::IsWindowVisible(main) && ::GetTickCount() - start < 10000) ::Sleep(50);
  EXPECT_TRUE(::IsWindowVisible(main));

  // The menu opens in Parlex.exe; the last item is "退出".
  ClickAt(icon, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  HWND menu = WaitForWindow(first.Id(), L"#32768", L"", 10000);
  ASSERT_TRUE(menu) << "no tray menu";
  ::PostMessageW(menu, WM_KEYDOWN, VK_UP, 0);
  ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  DWORD code = 0;
  ASSERT_TRUE(first.WaitForExit(kExitWait, &code));
  EXPECT_EQ(code, 32778u);
}

TEST_F(ParlexExe, StartsMinimizedWhenStartedSo) {
  ASSERT_TRUE(first.Start(SW_SHOWMINNOACTIVE));
  main = WaitForWindow(first.Id(), L"#32770", L"Ostrel", 30000);
  ASSERT_TRUE(main);
  Settle();
  EXPECT_TRUE(::IsIconic(main));
}

TEST_F(ParlexExe, WithoutTheBrowserControlTheProgramEndsWithoutAWindow) {
  // The browser control's DLL cannot be loaded by Parlex.exe.
  ScopedDllDisabled noBrowser(L"Parlex.exe", L"ieframe");
  ASSERT_TRUE(first.Start());
  bool sawWindow = false;
  DWORD code = 99;
  DWORD start = ::GetTickCount();
  while (!first.WaitForExit(20, &code) && ::GetTickCount() - start < kExitWait) {
    // The dialog exists, hidden, while its controls are made; it never shows.
    if (WaitForWindow(first.Id(), L"#32770", L"Ostrel", 0, true)) sawWindow = true;
  }
  ASSERT_FALSE(first.IsRunning()) << "still running with no browser control";
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(sawWindow);
}

}  // namespace
}  // namespace parlex::app::win32::testing
