// The main window in this process: its icons, its registration with the
// thread's message loop, hiding and showing, and its teardown.
#include <gtest/gtest.h>

#include <vector>

#include "app/shell_texts.h"
#include "main_dlg_fixture.h"
#include "resource.h"

namespace parlex::app::win32::testing {
namespace {

SIZE IconSize(HICON icon) {
  ICONINFO info{};
  if (!::GetIconInfo(icon, &info)) return {};
  BITMAP bitmap{};
  ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  if (info.hbmMask) ::DeleteObject(info.hbmMask);
  return {bitmap.bmWidth, info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2};
}

TEST_F(MainDlgTest, CarriesTheBigAndSmallIconsOfResource128) {
  CMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  EXPECT_FALSE(::IsWindowVisible(hwnd));  // shown by the run procedure
  auto big = reinterpret_cast<HICON>(::SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0));
  auto small = reinterpret_cast<HICON>(::SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0));
  ASSERT_TRUE(big);
  ASSERT_TRUE(small);
  SIZE bigSize = IconSize(big);
  SIZE smallSize = IconSize(small);
  EXPECT_EQ(bigSize.cx, ::GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(bigSize.cy, ::GetSystemMetrics(SM_CYICON));
  EXPECT_EQ(smallSize.cx, ::GetSystemMetrics(SM_CXSMICON));
  EXPECT_EQ(smallSize.cy, ::GetSystemMetrics(SM_CYSMICON));
}

TEST_F(MainDlgTest, RegistersWithTheThreadsLoopUntilDestroyed) {
  CMainDlg dialog;
  ASSERT_TRUE(dialog.Create());
  // Found once each while the window lives (then put back).
  EXPECT_TRUE(loop.RemoveMessageFilter(&dialog));
  EXPECT_TRUE(loop.RemoveIdleHandler(&dialog));
  loop.AddMessageFilter(&dialog);
  loop.AddIdleHandler(&dialog);
  EXPECT_FALSE(dialog.OnIdle());

  EXPECT_TRUE(dialog.DestroyWindow());
  EXPECT_FALSE(loop.RemoveMessageFilter(&dialog));
  EXPECT_FALSE(loop.RemoveIdleHandler(&dialog));
}

TEST_F(MainDlgTest, CloseHidesAndTheShowCommandShowsAgain) {
  CMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  ::ShowWindow(hwnd, SW_SHOWNORMAL);
  Pump();
  ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(hwnd));
  EXPECT_FALSE(::IsWindowVisible(hwnd));
  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_SHOW, 0), 0);
  EXPECT_TRUE(::IsWindowVisible(hwnd));
  ::SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(::IsWindowVisible(hwnd));
  dialog.ShowAndFocus();
  EXPECT_TRUE(::IsWindowVisible(hwnd));
}

// Stands in front of the browser's host window: records forward requests and
// answers with what the test says the control did.
struct ForwardSpy {
  static inline std::vector<UINT> forwarded;
  static inline LRESULT answer = 0;
  static inline WNDPROC original = nullptr;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == parlex::win32::WM_FORWARDMSG) {
      forwarded.push_back(reinterpret_cast<MSG*>(lParam)->message);
      return answer;
    }
    return ::CallWindowProcW(original, hwnd, message, wParam, lParam);
  }
};

TEST_F(MainDlgTest, KeyboardAndMouseGoToTheBrowserHostFirstThenToDialogNavigation) {
  CMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  ::ShowWindow(hwnd, SW_SHOWNORMAL);
  Pump();
  HWND host = ::GetDlgItem(hwnd, IDC_EXPLORER);
  ASSERT_TRUE(host);
  ForwardSpy::forwarded.clear();
  ForwardSpy::original = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ForwardSpy::Proc)));

  // The focus deep inside the control: the request goes to the host.
  HWND inner = host;
  while (HWND child = ::GetWindow(inner, GW_CHILD)) inner = child;
  ::SetFocus(inner);
  ASSERT_EQ(::GetFocus(), inner);

  MSG key{inner, WM_KEYDOWN, 'A', 0, 0, {}};
  ForwardSpy::answer = 1;
  EXPECT_TRUE(dialog.PreTranslateMessage(&key));
  MSG click{inner, WM_LBUTTONDOWN, 0, 0, 0, {}};
  EXPECT_TRUE(dialog.PreTranslateMessage(&click));
  EXPECT_EQ(ForwardSpy::forwarded, (std::vector<UINT>{WM_KEYDOWN, WM_LBUTTONDOWN}));

  // Other messages are not looked at.
  MSG other{inner, WM_TIMER, 1, 0, 0, {}};
  EXPECT_FALSE(dialog.PreTranslateMessage(&other));
  EXPECT_EQ(ForwardSpy::forwarded.size(), 2u);

  // Not taken by the control: dialog navigation decides, and it takes the
  // dialog's own keys.
  ForwardSpy::answer = 0;
  MSG tab{inner, WM_KEYDOWN, VK_TAB, 0, 0, {}};
  EXPECT_TRUE(dialog.PreTranslateMessage(&tab));
  EXPECT_EQ(ForwardSpy::forwarded.size(), 3u);
  MSG elsewhere{nullptr, WM_KEYDOWN, 'A', 0, 0, {}};
  ::SetFocus(nullptr);
  EXPECT_FALSE(dialog.PreTranslateMessage(&elsewhere));

  ::SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ForwardSpy::original));
}

TEST_F(MainDlgTest, TheExitCommandDestroysTheWindowAndPostsItsQuitCode) {
  CMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_EXIT, 0), 0);
  // The loop's own run ends with the posted code.
  EXPECT_EQ(loop.Run(), 32778);
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(dialog.GetHwnd(), nullptr);
}

TEST_F(MainDlgTest, TheInstallersCloseRequestWaitsForACaptureThenLeavesAsQuitDoes) {
  TestMainDlg dialog;
  HWND hwnd = dialog.Create();
  ASSERT_TRUE(hwnd);
  // Found as the installer finds it: a dialog titled "Ostrel", hidden or not.
  EXPECT_EQ(::FindWindowW(L"#32770", L"Ostrel"), hwnd);
  const UINT request = ::RegisterWindowMessageW(L"ParlexCloseForInstall");

  // During a capture the answer is busy and nothing ends.
  LRESULT during = 0;
  dialog.duringCapture = [&] {
    during = ::SendMessageW(hwnd, request, 0, 0);
    Pump();
  };
  ASSERT_EQ(InvokeCapture(dialog.External(), 12, 34), S_OK);
  EXPECT_EQ(during, kCloseBusy);
  Pump();
  EXPECT_TRUE(::IsWindow(hwnd));

  // Otherwise the program leaves with the page's quit code, after answering.
  EXPECT_EQ(::SendMessageW(hwnd, request, 0, 0), kCloseAccepted);
  EXPECT_TRUE(::IsWindow(hwnd));
  EXPECT_EQ(loop.Run(), kExitNormal);
  EXPECT_FALSE(::IsWindow(hwnd));
}

}  // namespace
}  // namespace parlex::app::win32::testing
