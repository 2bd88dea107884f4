// The main window in the test's own process: COM, the module and a message
// loop for it, a recorder standing in for the notification area, and a
// main window whose page address and capture the test decides.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/win32/main_dlg.h"
#include "app/win32/tray_icon.h"
#include "parlex_config.h"
#include "platform/win32/app_module.h"
#include "platform/win32/ax_host.h"
#include "platform/win32/message_loop.h"

namespace parlex::app::win32::testing {

// One request to the notification area, as the shell would have seen it.
struct ShellRequest {
  DWORD message = 0;
  DWORD cbSize = 0;
  HWND hwnd = nullptr;
  UINT uId = 0;
  UINT flags = 0;
  UINT callback = 0;
  HICON icon = nullptr;
  DWORD state = 0;
  DWORD stateMask = 0;
  DWORD infoFlags = 0;
  std::wstring tip;
  std::wstring title;
  std::wstring text;
  bool ownerAlive = false;    // the owner window still existed
  bool ownerVisible = false;  // and was visible
  BOOL answer = FALSE;
};

// Replaces the shell while it exists. It answers as a shell does: an add
// succeeds, a modify or delete only for an icon that was added; or, when
// asked to, passes each request on to the real shell and keeps its answer.
class ShellRecorder {
 public:
  ShellRecorder() {
    requests.clear();
    s_bAdded = false;
    forwardToShell = false;
    previous_ = SetShellNotifyIconProc(&Record);
  }
  ~ShellRecorder() { SetShellNotifyIconProc(previous_); }
  ShellRecorder(const ShellRecorder&) = delete;
  ShellRecorder& operator=(const ShellRecorder&) = delete;

  static inline std::vector<ShellRequest> requests;
  static inline bool forwardToShell = false;
  // The requests so far of one kind.
  static std::vector<ShellRequest> Of(DWORD message) {
    std::vector<ShellRequest> out;
    for (const ShellRequest& r : requests) {
      if (r.message == message) out.push_back(r);
    }
    return out;
  }

 private:
  static BOOL WINAPI Record(DWORD message, PNOTIFYICONDATAW data) {
    ShellRequest r;
    r.message = message;
    r.cbSize = data->cbSize;
    r.hwnd = data->hWnd;
    r.uId = data->uID;
    r.flags = data->uFlags;
    r.callback = data->uCallbackMessage;
    r.icon = data->hIcon;
    r.state = data->dwState;
    r.stateMask = data->dwStateMask;
    r.infoFlags = data->dwInfoFlags;
    r.tip = data->szTip;
    r.title = data->szInfoTitle;
    r.text = data->szInfo;
    r.ownerAlive = ::IsWindow(data->hWnd);
    r.ownerVisible = ::IsWindowVisible(data->hWnd);
    if (forwardToShell) {
      r.answer = ::Shell_NotifyIconW(message, data);
    } else if (message == NIM_ADD) {
      r.answer = s_bAdded = true;
    } else {
      r.answer = message == NIM_DELETE ? std::exchange(s_bAdded, false) : s_bAdded;
    }
    requests.push_back(r);
    return r.answer;
  }

  static inline bool s_bAdded = false;
  ShellNotifyIconProc previous_ = nullptr;
};

// The main window with a page address and a capture of the test's choice.
class TestMainDlg : public CMainDlg {
 public:
  std::u16string address = PARLEX_CHAT_URL u"embeded";
  std::vector<std::pair<int32_t, int32_t>> captures;
  std::function<void()> duringCapture;

  IDispatch* External() { return static_cast<Dispatcher*>(this); }

 protected:
  std::u16string CurrentPageAddress() override { return address; }
  void OnCaptureRequested(int32_t companyId, int32_t visitorId) override {
    captures.emplace_back(companyId, visitorId);
    if (duringCapture) duringCapture();
  }
};

class MainDlgTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::CoInitialize(nullptr);
    parlex::win32::g_module.Init(::GetModuleHandleW(nullptr));
    parlex::win32::RegisterAxHostClass(parlex::win32::g_module.GetModuleInstance());
  }
  static void TearDownTestSuite() {
    parlex::win32::g_module.Term();
    ::CoUninitialize();
  }
  void SetUp() override { ASSERT_TRUE(parlex::win32::g_module.AddMessageLoop(&loop)); }
  void TearDown() override { parlex::win32::g_module.RemoveMessageLoop(); }

  parlex::win32::CMessageLoop loop;
  // No test reaches the real notification area.
  ShellRecorder shell;
};

// The page's call capture(companyId, visitorId) as a script engine makes it:
// the name looked up, the arguments passed in reverse order.
inline HRESULT InvokeCapture(IDispatch* external, LONG companyId, LONG visitorId) {
  wchar_t name[] = L"capture";
  LPOLESTR names[] = {name};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = external->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  VARIANT args[2];
  args[0].vt = VT_I4;
  args[0].lVal = visitorId;
  args[1].vt = VT_I4;
  args[1].lVal = companyId;
  DISPPARAMS params{args, nullptr, 2, 0};
  return external->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                          nullptr);
}

inline void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

}  // namespace parlex::app::win32::testing
