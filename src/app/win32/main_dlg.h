// The main window: a resizable dialog whose whole client area is the browser
// control showing the chat service's agent page. Closing it only hides it.
#pragma once

#include <windows.h>

#include "platform/win32/com_ptr.h"
#include "platform/win32/dialog_base.h"
#include "platform/win32/dialog_resize.h"
#include "platform/win32/event_sink.h"
#include "platform/win32/message_loop.h"
#include "platform/win32/scoped_handle.h"

struct IWebBrowser2;

namespace parlex::app::win32 {

class CMainDlg : public parlex::win32::CDialogBase,
                 public parlex::win32::CMessageFilter,
                 public parlex::win32::CIdleHandler,
                 public parlex::win32::CDispatchSink {
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

 protected:
  bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  // Browser events: every completed document focuses the page.
  void OnEvent(DISPID id, DISPPARAMS* params) override;

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnClose(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnShowCommand(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnExitCommand(UINT, WPARAM, LPARAM, bool&);

  parlex::win32::ComPtr<IWebBrowser2> GetBrowser() const;
  void CenterOnWorkArea();

  parlex::win32::CDialogResize m_resize;
  parlex::win32::ScopedIcon m_hIconBig;
  parlex::win32::ScopedIcon m_hIconSmall;
};

}  // namespace parlex::app::win32
