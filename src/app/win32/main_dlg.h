// The main window: a resizable dialog whose whole client area is the browser
// control showing the chat service's agent page. Closing it only hides it.
// It owns the tray icon and is the page's external object.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/win32/dispatcher.h"
#include "app/win32/tray_icon.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/dialog_base.h"
#include "platform/win32/dialog_resize.h"
#include "platform/win32/event_sink.h"
#include "platform/win32/message_loop.h"
#include "platform/win32/scoped_handle.h"

struct IWebBrowser2;
struct IHTMLWindow2;

namespace parlex {
class CScreenDlg;
}

namespace parlex::app::win32 {

class CMainDlg : public parlex::win32::CDialogBase,
                 public parlex::win32::CMessageFilter,
                 public parlex::win32::CIdleHandler,
                 public parlex::win32::CDispatchSink,
                 public Dispatcher {
 public:
  CMainDlg();
  ~CMainDlg() override;

  // Creates the window from its template, hidden, without parent. Null when
  // it or the browser control cannot be created.
  HWND Create();

  // Shows the window as it was (a minimized window stays minimized) and
  // puts the keyboard focus into the page.
  void ShowAndFocus();
  // Gives the page's window the keyboard focus; quietly nothing while no
  // document is loaded.
  void FocusPage();

  // Input forwarding: the control's own accelerators and tab order first,
  // then the dialog's keyboard navigation.
  bool PreTranslateMessage(MSG* msg) override;
  bool OnIdle() override;

  // The page's operations (the external object's names).
  void maximize() override;
  void notify(const std::u16string& title, const std::u16string& text) override;
  void quit() override;
  // A call while a capture runs (a page timer firing inside the capture's
  // own loop) is ignored rather than nested.
  void capture(int32_t companyId, int32_t visitorId) override;

 protected:
  // The browser's current top-level address.
  std::u16string CurrentPageAddress() override;
  // The capture itself, once the call is accepted.
  virtual void OnCaptureRequested(int32_t companyId, int32_t visitorId);
  // The capture dialog's last settings before it runs (the upload address
  // and transport, the files); the program keeps the dialog's own.
  virtual void PrepareCapture(CScreenDlg& dialog);
  // Calls the page's onFileSent(reply) through the script dispatch of the
  // document's window. Every failure (no document, no such function) is
  // silent.
  virtual void CallPageOnFileSent(std::u16string_view reply);

  bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  // Browser events: every completed document focuses the page.
  void OnEvent(DISPID id, DISPPARAMS* params) override;

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnClose(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnShowCommand(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnExitCommand(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnIconNotified(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnTaskbarCreated(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnEndSession(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnLeaveAfterCapture(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnCloseForInstall(UINT, WPARAM, LPARAM, bool&);

  void CreateTrayIcon();
  void ShowTrayMenu();
  // Removes the icon and frees the tray object, destroys the window and ends
  // the message loop with this code. During a capture the capture ends
  // first, as Esc ends it; the program leaves once the page's capture call
  // has returned, never under it.
  void Exit(int exitCode);
  // Hides the window, lets the page settle, runs the capture dialog, shows
  // the window again and hands the page a sent upload's reply.
  void RunCaptureCall(int32_t companyId, int32_t visitorId);

  parlex::win32::ComPtr<IWebBrowser2> GetBrowser() const;
  // The window of the page's document; empty while no document is loaded.
  parlex::win32::ComPtr<IHTMLWindow2> GetPageWindow() const;
  void CenterOnWorkArea();

  parlex::win32::CDialogResize resize_;
  parlex::win32::ScopedIcon bigIcon_;
  parlex::win32::ScopedIcon smallIcon_;
  std::unique_ptr<CTrayIcon> trayIcon_;
  bool captureRunning_ = false;
  CScreenDlg* runningCapture_ = nullptr;
  std::optional<int> pendingExit_;
};

}  // namespace parlex::app::win32
