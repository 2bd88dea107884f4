// The dialog base's message table and the resize component, on test dialogs.
#include "platform/win32/dialog_base.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/win32/app_module.h"
#include "platform/win32/dialog_resize.h"
#include "test_dialogs.h"

namespace parlex::win32 {
namespace {

class TestDialog : public CDialogBase {
 public:
  TestDialog() : CDialogBase(IDD_TEST_RESIZE) {}
  ~TestDialog() override { DestroyWindow(); }

  LPARAM initParam = -1;
  std::vector<WPARAM> commands;
  bool destroyed = false;
  bool finalMessage = false;
  CDialogResize resize;

 protected:
  bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    using Route = MessageRoute<TestDialog>;
    static const Route kRoutes[] = {
        {Route::kMessage, WM_INITDIALOG, &TestDialog::OnInit},
        {Route::kMessage, WM_APP, &TestDialog::OnApp},
        {Route::kMessage, WM_APP + 1, &TestDialog::OnDeclined},
        {Route::kMessage, WM_APP + 1, &TestDialog::OnSecondChance},
        {Route::kCommand, 77, &TestDialog::OnCommand77},
        {Route::kMessage, WM_DESTROY, &TestDialog::OnDestroy},
    };
    if (RouteMessage<TestDialog>(this, kRoutes, message, wParam, lParam, result)) return true;
    return resize.ProcessMessage(message, wParam, lParam, result);
  }
  void OnFinalMessage() override { finalMessage = true; }

 private:
  LRESULT OnInit(UINT, WPARAM, LPARAM lParam, bool&) {
    initParam = lParam;
    static constexpr std::array<CDialogResize::Entry, 1> kLayout{
        {{IDC_TEST_EDIT, CDialogResize::kSizeX | CDialogResize::kSizeY}}};
    resize.Init(GetHwnd(), kLayout);
    return TRUE;
  }
  LRESULT OnApp(UINT, WPARAM wParam, LPARAM, bool&) { return static_cast<LRESULT>(wParam) * 2; }
  LRESULT OnDeclined(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 1;
  }
  LRESULT OnSecondChance(UINT, WPARAM, LPARAM, bool&) { return 1234; }
  LRESULT OnCommand77(UINT, WPARAM wParam, LPARAM, bool&) {
    commands.push_back(wParam);
    return 0;
  }
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool&) {
    destroyed = true;
    return 0;
  }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { g_module.Init(::GetModuleHandleW(nullptr)); }
  void TearDown() override { g_module.Term(); }
};

RECT ClientOf(HWND hwnd) {
  RECT rect;
  ::GetClientRect(hwnd, &rect);
  return rect;
}

RECT RectInParent(HWND child) {
  RECT rect;
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

SIZE SizeOf(HWND hwnd) {
  RECT rect;
  ::GetWindowRect(hwnd, &rect);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

TEST_F(DialogTest, MessageTableRoutesMessagesAndCommandsAndAnswersResults) {
  TestDialog dialog;
  HWND hwnd = dialog.Create(nullptr, 4711);
  ASSERT_TRUE(hwnd);
  EXPECT_EQ(dialog.GetHwnd(), hwnd);
  EXPECT_EQ(dialog.initParam, 4711);

  EXPECT_EQ(::SendMessageW(hwnd, WM_APP, 21, 0), 42);
  // A handler that declines passes the message on to the next row.
  EXPECT_EQ(::SendMessageW(hwnd, WM_APP + 1, 0, 0), 1234);
  // Unrouted messages get the default handling.
  EXPECT_EQ(::SendMessageW(hwnd, WM_APP + 2, 0, 0), 0);

  // Commands match on the identifier alone, whatever the notification code.
  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(77, 0), 0);
  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(77, EN_CHANGE), 0);
  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(78, 0), 0);
  EXPECT_EQ(dialog.commands, (std::vector<WPARAM>{MAKEWPARAM(77, 0), MAKEWPARAM(77, EN_CHANGE)}));

  EXPECT_TRUE(dialog.DestroyWindow());
  EXPECT_TRUE(dialog.destroyed);
  EXPECT_TRUE(dialog.finalMessage);
  EXPECT_EQ(dialog.GetHwnd(), nullptr);
  EXPECT_FALSE(::IsWindow(hwnd));
}

TEST_F(DialogTest, ResizeKeepsTheControlFillingTheClientAreaAndTheInitialSizeAsMinimum) {
  TestDialog dialog;
  HWND hwnd = dialog.Create(nullptr);
  ASSERT_TRUE(hwnd);
  EXPECT_TRUE(::GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CLIPCHILDREN);
  EXPECT_TRUE(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  ::ShowWindow(hwnd, SW_SHOWNORMAL);
  Pump();
  HWND edit = ::GetDlgItem(hwnd, IDC_TEST_EDIT);
  HWND gripper = dialog.resize.GetGripper();
  ASSERT_TRUE(gripper);
  EXPECT_TRUE(::IsWindowVisible(gripper));
  const SIZE initial = SizeOf(hwnd);
  const RECT initialEdit = RectInParent(edit);
  const RECT initialClient = ClientOf(hwnd);

  ::SetWindowPos(hwnd, nullptr, 0, 0, initial.cx + 150, initial.cy + 90, SWP_NOMOVE | SWP_NOZORDER);
  Pump();
  RECT client = ClientOf(hwnd);
  RECT grown = RectInParent(edit);
  EXPECT_EQ(client.right, initialClient.right + 150);
  EXPECT_EQ(client.bottom, initialClient.bottom + 90);
  // The edit kept its margins to the client area's edges.
  EXPECT_EQ(grown.left, initialEdit.left);
  EXPECT_EQ(grown.top, initialEdit.top);
  EXPECT_EQ(client.right - grown.right, initialClient.right - initialEdit.right);
  EXPECT_EQ(client.bottom - grown.bottom, initialClient.bottom - initialEdit.bottom);
  // The gripper sits in the bottom-right corner.
  RECT grip = RectInParent(gripper);
  EXPECT_EQ(grip.right, client.right);
  EXPECT_EQ(grip.bottom, client.bottom);

  ::SetWindowPos(hwnd, nullptr, 0, 0, initial.cx - 60, initial.cy - 40, SWP_NOMOVE | SWP_NOZORDER);
  Pump();
  SIZE shrunk = SizeOf(hwnd);
  EXPECT_EQ(shrunk.cx, initial.cx);
  EXPECT_EQ(shrunk.cy, initial.cy);
  MINMAXINFO limits{};
  ::SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  EXPECT_EQ(limits.ptMinTrackSize.x, initial.cx);
  EXPECT_EQ(limits.ptMinTrackSize.y, initial.cy);

  ::ShowWindow(hwnd, SW_MAXIMIZE);
  Pump();
  EXPECT_FALSE(::IsWindowVisible(gripper));
  client = ClientOf(hwnd);
  RECT maximized = RectInParent(edit);
  EXPECT_EQ(client.right - maximized.right, initialClient.right - initialEdit.right);
  EXPECT_EQ(client.bottom - maximized.bottom, initialClient.bottom - initialEdit.bottom);
  ::ShowWindow(hwnd, SW_RESTORE);
  Pump();
  EXPECT_TRUE(::IsWindowVisible(gripper));
}

}  // namespace
}  // namespace parlex::win32
