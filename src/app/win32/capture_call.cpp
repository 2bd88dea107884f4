// The page's capture call: the main window steps aside, the capture dialog
// runs modally over the frozen screen, the window comes back and a sent
// upload's reply goes to the page's onFileSent before the call returns.
#include <exdisp.h>
#include <mshtml.h>
#include <oleauto.h>

#include "app/address_settings.h"
#include "app/support_events.h"
#include "app/win32/main_dlg.h"
#include "capture/screen_dlg.h"
#include "capture/win32/capture_files_win32.h"
#include "capture/win32/screen_view_win32.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/scoped_variant.h"
#include "platform/win32/wide_text.h"

namespace parlex::app::win32 {

using parlex::win32::ComPtr;

namespace {

// Long enough for the screen to no longer show the main window when the
// capture dialog copies it.
constexpr DWORD kStepAsideMs = 300;

}  // namespace

void CMainDlg::RunCaptureCall(int32_t companyId, int32_t visitorId) {
  HWND hwnd = GetHwnd();
  ::ShowWindow(hwnd, SW_HIDE);
  ::UpdateWindow(hwnd);
  ::Sleep(kStepAsideMs);

  bool sent = false;
  std::u16string reply;
  std::u16string kept;
  {
    CScreenDlg dialog(companyId, visitorId);
    parlex::win32::CaptureFilesWin32 files;
    dialog.SetFiles(&files);
    dialog.SetHttpSeams(PlatformHttpSeams());
    dialog.SetUploadUrl(UploadUrlForChat(ChatBaseUrl()));
    PrepareCapture(dialog);
    parlex::win32::ScreenViewWin32 view(dialog);
    runningCapture_ = &dialog;
    // With the main window hidden there is usually no active window: the
    // capture then has no owner.
    view.RunModal(::GetActiveWindow());
    runningCapture_ = nullptr;
    LogCaptureOutcome(dialog.m_report, dialog.m_szKeptFile);
    sent = dialog.m_bSent;
    reply = dialog.m_szReply;
    kept = dialog.m_szKeptFile;
  }

  // Leaving: the window stays hidden and the page hears nothing more.
  if (pendingExit_ || !::IsWindow(hwnd)) return;
  ::ShowWindow(hwnd, SW_SHOW);
  ::UpdateWindow(hwnd);
  if (!kept.empty()) notify(kUnsentNoticeTitle, UnsentNoticeText(kept));
  if (sent) CallPageOnFileSent(reply);
}

void CMainDlg::PrepareCapture(CScreenDlg& /*dialog*/) {}

void CMainDlg::CallPageOnFileSent(std::u16string_view reply) {
  ComPtr<IHTMLWindow2> window = GetPageWindow();
  if (!window) return;
  ComPtr<IDispatch> script;
  if (FAILED(window.As(script)) || !script) return;

  wchar_t name[] = L"onFileSent";
  LPOLESTR names[] = {name};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id))) return;

  parlex::win32::ScopedVariant argument(parlex::win32::ToWide(reply));
  DISPPARAMS params{};
  params.rgvarg = argument.Get();
  params.cArgs = 1;
  script->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

}  // namespace parlex::app::win32
