// The control host inside dialogs: creation of the browser control, failure
// of the dialog when the control cannot be made, the external object handed
// to the browser as its document host, and event connections.
#include "platform/win32/ax_host.h"

#include <exdisp.h>
#include <gtest/gtest.h>

#include "platform/win32/app_module.h"
#include "platform/win32/dialog_base.h"
#include "platform/win32/event_sink.h"
#include "test_dialogs.h"

namespace parlex::win32 {
namespace {

class HostDialog : public CDialogBase {
 public:
  explicit HostDialog(UINT id) : CDialogBase(id) {}
  ~HostDialog() override { DestroyWindow(); }

 protected:
  bool ProcessWindowMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override {
    if (message != WM_INITDIALOG) return false;
    result = TRUE;
    return true;
  }
};

// A bare IDispatch whose identity and reference count the test can see.
struct External : IDispatch {
  LONG refs = 1;
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

struct Sink : CDispatchSink {
  Sink() : CDispatchSink(DIID_DWebBrowserEvents2) {}
  void OnEvent(DISPID, DISPPARAMS*) override {}
};

class AxHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::CoInitialize(nullptr);
    g_module.Init(::GetModuleHandleW(nullptr));
    RegisterAxHostClass(g_module.GetModuleInstance());
  }
  static void TearDownTestSuite() {
    g_module.Term();
    ::CoUninitialize();
  }
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM found) {
  wchar_t cls[32];
  if (::GetClassNameW(hwnd, cls, 32) && ::lstrcmpW(cls, L"#32770") == 0)
    *reinterpret_cast<bool*>(found) = true;
  return TRUE;
}

bool AnyDialogOfThisThread() {
  bool found = false;
  ::EnumThreadWindows(::GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

TEST_F(AxHostTest, ADialogWhoseControlCannotBeCreatedIsNotCreated) {
  HostDialog dialog(IDD_TEST_BAD_CONTROL);
  EXPECT_EQ(dialog.Create(nullptr), nullptr);
  EXPECT_EQ(dialog.GetHwnd(), nullptr);
  EXPECT_FALSE(AnyDialogOfThisThread());
}

TEST_F(AxHostTest, HostsTheBrowserFillingItsWindowAndHandsOutTheExternalObject) {
  HostDialog dialog(IDD_TEST_BROWSER);
  HWND hwnd = dialog.Create(nullptr);
  ASSERT_TRUE(hwnd);
  HWND hostWindow = ::GetDlgItem(hwnd, IDC_TEST_HOST);
  CAxHost* host = CAxHost::FromWindow(hostWindow);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(CAxHost::FromWindow(hwnd), nullptr);

  ComPtr<IWebBrowser2> browser;
  ASSERT_EQ(host->QueryControl(browser), S_OK);
  ASSERT_TRUE(browser);

  // The control's window covers the host window, also after a resize.
  ::SetWindowPos(hostWindow, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
  HWND controlWindow = ::GetWindow(hostWindow, GW_CHILD);
  ASSERT_TRUE(controlWindow);
  RECT rect;
  ::GetWindowRect(controlWindow, &rect);
  EXPECT_EQ(rect.right - rect.left, 300);
  EXPECT_EQ(rect.bottom - rect.top, 200);

  // The browser's site is the host; as document host it gives out what was set.
  ComPtr<IOleObject> ole;
  ASSERT_EQ(host->QueryControl(ole), S_OK);
  ComPtr<IOleClientSite> site;
  ASSERT_EQ(ole->GetClientSite(site.Put()), S_OK);
  ComPtr<IDocHostUIHandler> ui;
  ASSERT_EQ(site.As(ui), S_OK);
  IDispatch* got = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(ui->GetExternal(&got), S_FALSE);
  EXPECT_EQ(got, nullptr);

  External external;
  host->SetExternalDispatch(&external);
  EXPECT_EQ(ui->GetExternal(&got), S_OK);
  EXPECT_EQ(got, static_cast<IDispatch*>(&external));
  got->Release();

  // Event connections: a cookie while connected, the marker afterwards.
  Sink sink;
  EXPECT_EQ(sink.GetCookie(), CDispatchSink::kNoConnection);
  EXPECT_EQ(sink.Advise(browser.Get()), S_OK);
  EXPECT_NE(sink.GetCookie(), CDispatchSink::kNoConnection);
  EXPECT_EQ(sink.Unadvise(browser.Get()), S_OK);
  EXPECT_EQ(sink.GetCookie(), CDispatchSink::kNoConnection);

  // A window other than a host does not know the forward request.
  MSG msg{hwnd, WM_KEYDOWN, VK_F5, 0, 0, {}};
  EXPECT_EQ(::SendMessageW(hwnd, WM_FORWARDMSG, 0, reinterpret_cast<LPARAM>(&msg)), 0);

  ui.Reset();
  site.Reset();
  ole.Reset();
  browser.Reset();
  EXPECT_TRUE(dialog.DestroyWindow());
  // Closing the control gave back every reference to the external object.
  EXPECT_EQ(external.refs, 1);
}

}  // namespace
}  // namespace parlex::win32
