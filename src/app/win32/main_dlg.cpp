#include "app/win32/main_dlg.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "app/shell_texts.h"
#include "capture/screen_dlg.h"
#include "app/win32/tray_messages.h"
#include "common/support_log.h"
#include "parlex_config.h"
#include "platform/win32/app_module.h"
#include "platform/win32/ax_host.h"
#include "platform/win32/scoped_variant.h"
#include "platform/win32/wide_text.h"
#include "resource.h"

namespace parlex::app::win32 {

using parlex::win32::CAxHost;
using parlex::win32::CDialogResize;
using parlex::win32::ComPtr;
using parlex::win32::g_module;
using parlex::win32::MessageRoute;
using parlex::win32::ScopedMenu;

namespace {

using Route = MessageRoute<CMainDlg>;

// Posted to the window by a way out asked for during a capture: it is taken
// once the page's call has returned. wParam: the exit code.
constexpr UINT kLeaveAfterCaptureMessage = WM_APP + 17;

// The browser control takes the whole client area as the window is sized.
constexpr std::array<CDialogResize::Entry, 1> kLayout{{
    {IDC_EXPLORER, CDialogResize::kSizeX | CDialogResize::kSizeY},
}};

// Icon 128 at the default icon size, as a handle of its own (not a shared
// one) so that destroying it once the shell has its copy frees it.
HICON LoadTrayIcon() {
  return static_cast<HICON>(::LoadImageW(g_module.GetModuleInstance(), MAKEINTRESOURCEW(IDI_PARLEX),
                                         IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

bool IsKeyboardOrMouse(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= 0x020D);
}

}  // namespace

CMainDlg::CMainDlg() : CDialogBase(IDD_MAINDLG), CDispatchSink(DIID_DWebBrowserEvents2) {}

CMainDlg::~CMainDlg() {
  // Still a window when the loop ended by a quit from elsewhere: tear it down
  // with our own handlers while they exist.
  DestroyWindow();
}

HWND CMainDlg::Create() { return CDialogBase::Create(nullptr, 0); }

bool CMainDlg::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  static const Route kRoutes[] = {
      {Route::kMessage, WM_INITDIALOG, &CMainDlg::OnInitDialog},
      {Route::kMessage, WM_CLOSE, &CMainDlg::OnClose},
      {Route::kMessage, WM_DESTROY, &CMainDlg::OnDestroy},
      {Route::kCommand, ID_TRAY_SHOW, &CMainDlg::OnShowCommand},
      {Route::kCommand, ID_TRAY_EXIT, &CMainDlg::OnExitCommand},
      {Route::kMessage, g_uIconNotifiedMessage, &CMainDlg::OnIconNotified},
      {Route::kMessage, g_uTaskbarCreatedMessage, &CMainDlg::OnTaskbarCreated},
      {Route::kMessage, WM_ENDSESSION, &CMainDlg::OnEndSession},
      {Route::kMessage, kLeaveAfterCaptureMessage, &CMainDlg::OnLeaveAfterCapture},
      {Route::kMessage, g_uCloseForInstallMessage, &CMainDlg::OnCloseForInstall},
  };
  if (parlex::win32::RouteMessage<CMainDlg>(this, kRoutes, message, wParam, lParam, result)) return true;
  return resize_.ProcessMessage(message, wParam, lParam, result);
}

LRESULT CMainDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool&) {
  HWND hwnd = GetHwnd();
  CenterOnWorkArea();

  HINSTANCE instance = g_module.GetModuleInstance();
  bigIcon_.Reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PARLEX), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                                 LR_DEFAULTCOLOR)));
  ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.Get()));
  smallIcon_.Reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PARLEX), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR)));
  ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));

  if (auto* loop = g_module.GetMessageLoop()) {
    loop->AddMessageFilter(this);
    loop->AddIdleHandler(this);
  }

  resize_.Init(hwnd, kLayout);

  // The welcome balloon appears while the window is still hidden.
  CreateTrayIcon();
  trayIcon_->Show();
  trayIcon_->Balloon(kWelcomeTitle, kWelcomeText);

  if (CAxHost* host = CAxHost::FromWindow(::GetDlgItem(hwnd, IDC_EXPLORER))) {
    host->SetExternalDispatch(static_cast<Dispatcher*>(this));
  }

  if (ComPtr<IWebBrowser2> browser = GetBrowser()) {
    Advise(browser.Get());
    std::u16string address = ChatBaseUrl() + kAgentPagePath;
    parlex::win32::ScopedVariant url(parlex::win32::ToWide(address));
    parlex::win32::ScopedVariant empty;
    browser->Navigate2(url.Get(), empty.Get(), empty.Get(), empty.Get(), empty.Get());
  }
  // The platform puts the focus on the first tab stop: the browser control.
  return TRUE;
}

LRESULT CMainDlg::OnClose(UINT, WPARAM, LPARAM, bool&) {
  ::ShowWindow(GetHwnd(), SW_HIDE);
  ::UpdateWindow(GetHwnd());
  return 0;
}

LRESULT CMainDlg::OnDestroy(UINT, WPARAM, LPARAM, bool&) {
  // The ways out remove the icon before they destroy the window; a window
  // that goes any other way must not leave a dead icon behind.
  if (trayIcon_) {
    trayIcon_->Destroy();
    trayIcon_.reset();
  }
  ComPtr<IWebBrowser2> browser = GetBrowser();
  if (browser) Unadvise(browser.Get());
  if (auto* loop = g_module.GetMessageLoop()) {
    loop->RemoveMessageFilter(this);
    loop->RemoveIdleHandler(this);
  }
  return 0;
}

LRESULT CMainDlg::OnShowCommand(UINT, WPARAM, LPARAM, bool&) {
  ShowAndFocus();
  return 0;
}

LRESULT CMainDlg::OnExitCommand(UINT, WPARAM, LPARAM, bool&) {
  Exit(kExitFromTrayMenu);
  return 0;
}

LRESULT CMainDlg::OnIconNotified(UINT, WPARAM, LPARAM lParam, bool&) {
  // The old-style callback: the event is the low word.
  switch (LOWORD(lParam)) {
    case WM_LBUTTONDOWN:
    case NIN_BALLOONUSERCLICK:
      ShowAndFocus();
      break;
    case WM_RBUTTONDOWN:
      ShowTrayMenu();
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CMainDlg::OnTaskbarCreated(UINT, WPARAM, LPARAM, bool&) {
  // A restarted taskbar has forgotten every icon.
  if (trayIcon_) trayIcon_->AddAgain(LoadTrayIcon());
  return 0;
}

void CMainDlg::CreateTrayIcon() {
  std::vector<std::unique_ptr<TrayIconEntry>> entries;
  auto entry = std::make_unique<TrayIconEntry>();
  entry->uId = IDI_PARLEX;
  entry->hIcon = LoadTrayIcon();
  entry->pszTip = parlex::win32::AsWide(kTrayTip);
  entries.push_back(std::move(entry));
  trayIcon_ = std::make_unique<CTrayIcon>(GetHwnd(), std::move(entries));
}

void CMainDlg::ShowTrayMenu() {
  POINT point{};
  ::GetCursorPos(&point);
  ScopedMenu menu(::LoadMenuW(g_module.GetModuleInstance(), MAKEINTRESOURCEW(IDR_TRAYMENU)));
  HMENU popup = menu ? ::GetSubMenu(menu.Get(), 0) : nullptr;
  if (!popup) return;
  // A point off every screen: the menu opens at the nearest work area's edge.
  if (!::MonitorFromPoint(point, MONITOR_DEFAULTTONULL)) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (::GetMonitorInfoW(::MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST), &monitor)) {
      point.x = std::clamp(point.x, monitor.rcWork.left, monitor.rcWork.right);
    }
  }
  // The chosen item arrives as an ordinary command.
  ::TrackPopupMenu(popup, TPM_RIGHTALIGN | TPM_RIGHTBUTTON, point.x, point.y, 0, GetHwnd(), nullptr);
}

LRESULT CMainDlg::OnEndSession(UINT, WPARAM wParam, LPARAM, bool&) {
  // The session ends: a capture in progress gives way, then the program
  // goes as the page's quit takes it.
  if (wParam) Exit(kExitNormal);
  return 0;
}

LRESULT CMainDlg::OnLeaveAfterCapture(UINT, WPARAM wParam, LPARAM, bool&) {
  Exit(static_cast<int>(wParam));
  return 0;
}

LRESULT CMainDlg::OnCloseForInstall(UINT, WPARAM, LPARAM, bool&) {
  // A capture in progress is the agent's work: the installer waits for it
  // (or stops) rather than have it thrown away.
  if (captureRunning_) {
    supportlog::Info("install", u"the installer asked the program to leave: a capture runs, it waits");
    return kCloseBusy;
  }
  supportlog::Info("install", u"the installer asked the program to leave");
  // Taken once this answer is back with the installer.
  ::PostMessageW(GetHwnd(), kLeaveAfterCaptureMessage, static_cast<WPARAM>(kExitNormal), 0);
  return kCloseAccepted;
}

void CMainDlg::Exit(int exitCode) {
  if (captureRunning_) {
    // The first way out asked for is the one taken.
    if (!pendingExit_) pendingExit_ = exitCode;
    if (runningCapture_) runningCapture_->OnCancel();
    return;
  }
  if (trayIcon_) {
    trayIcon_->Destroy();
    trayIcon_.reset();
  }
  DestroyWindow();
  ::PostQuitMessage(exitCode);
}

void CMainDlg::maximize() { ::ShowWindow(GetHwnd(), SW_MAXIMIZE); }

void CMainDlg::notify(const std::u16string& title, const std::u16string& text) {
  if (trayIcon_) trayIcon_->Balloon(title, text);
}

void CMainDlg::quit() { Exit(kExitNormal); }

void CMainDlg::capture(int32_t companyId, int32_t visitorId) {
  if (captureRunning_) return;
  captureRunning_ = true;
  OnCaptureRequested(companyId, visitorId);
  captureRunning_ = false;
  if (pendingExit_) {
    ::PostMessageW(GetHwnd(), kLeaveAfterCaptureMessage, static_cast<WPARAM>(*pendingExit_), 0);
    pendingExit_.reset();
  }
}

void CMainDlg::OnCaptureRequested(int32_t companyId, int32_t visitorId) {
  RunCaptureCall(companyId, visitorId);
}

std::u16string CMainDlg::CurrentPageAddress() {
  ComPtr<IWebBrowser2> browser = GetBrowser();
  if (!browser) return {};
  BSTR address = nullptr;
  if (FAILED(browser->get_LocationURL(&address)) || !address) return {};
  std::u16string text(parlex::win32::AsU16(address), ::SysStringLen(address));
  ::SysFreeString(address);
  return text;
}

void CMainDlg::ShowAndFocus() {
  ::ShowWindow(GetHwnd(), SW_SHOW);
  FocusPage();
}

void CMainDlg::FocusPage() {
  if (ComPtr<IHTMLWindow2> window = GetPageWindow()) window->focus();
}

ComPtr<IHTMLWindow2> CMainDlg::GetPageWindow() const {
  ComPtr<IWebBrowser2> browser = GetBrowser();
  if (!browser) return {};
  ComPtr<IDispatch> document;
  if (FAILED(browser->get_Document(document.Put())) || !document) return {};
  ComPtr<IHTMLDocument2> html;
  if (FAILED(document.As(html)) || !html) return {};
  ComPtr<IHTMLWindow2> window;
  if (FAILED(html->get_parentWindow(window.Put())) || !window) return {};
  return window;
}

bool CMainDlg::PreTranslateMessage(MSG* msg) {
  if (!IsKeyboardOrMouse(msg->message)) return false;
  HWND hwnd = GetHwnd();
  HWND target = ::GetFocus();
  if (::IsChild(hwnd, target)) {
    while (::GetParent(target) != hwnd) target = ::GetParent(target);
  }
  if (target && ::SendMessageW(target, parlex::win32::WM_FORWARDMSG, 0, reinterpret_cast<LPARAM>(msg)) == 1) {
    return true;
  }
  return ::IsDialogMessageW(hwnd, msg) != FALSE;
}

bool CMainDlg::OnIdle() { return false; }

void CMainDlg::OnEvent(DISPID id, DISPPARAMS*) {
  if (id == DISPID_DOCUMENTCOMPLETE) FocusPage();
}

ComPtr<IWebBrowser2> CMainDlg::GetBrowser() const {
  ComPtr<IWebBrowser2> browser;
  if (CAxHost* host = CAxHost::FromWindow(::GetDlgItem(GetHwnd(), IDC_EXPLORER))) host->QueryControl(browser);
  return browser;
}

void CMainDlg::CenterOnWorkArea() {
  HWND hwnd = GetHwnd();
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (!::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  const RECT& work = monitor.rcWork;
  RECT window;
  ::GetWindowRect(hwnd, &window);
  int width = window.right - window.left;
  int height = window.bottom - window.top;
  int x = work.left + (work.right - work.left - width) / 2;
  int y = work.top + (work.bottom - work.top - height) / 2;
  // A window larger than the work area keeps its top-left corner inside it.
  if (x + width > work.right) x = work.right - width;
  if (x < work.left) x = work.left;
  if (y + height > work.bottom) y = work.bottom - height;
  if (y < work.top) y = work.top;
  ::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace parlex::app::win32
