// Base of the program's dialogs: a modeless dialog from a template whose
// messages go through the derived class's message table.
#pragma once

#include <windows.h>

#include <span>

namespace parlex::win32 {

class CDialogBase {
 public:
  explicit CDialogBase(UINT templateId) : templateId_(templateId) {}
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;
  // A window still alive is destroyed without its message table (the derived
  // part is gone by now): derived classes destroy it in their own destructor.
  virtual ~CDialogBase();

  // Creates the dialog modeless from its template in the module's resources.
  // initParam reaches the WM_INITDIALOG handler as its lParam. Answers the
  // window, or null when the dialog or one of its controls cannot be created.
  HWND Create(HWND parent, LPARAM initParam = 0);
  bool DestroyWindow();

  // Runs the dialog modally (DialogBoxParamW): the owner is disabled while it
  // runs, the dialog manager's keys apply (Esc and the close command give
  // IDCANCEL). Answers the code given to EndDialog, or -1 when the dialog
  // could not be created. The window is gone when it returns.
  INT_PTR DoModal(HWND owner, LPARAM initParam = 0);
  // Ends a modal run with its result (the loop ends once the current message
  // has been handled).
  bool EndDialog(INT_PTR result);

  HWND GetHwnd() const { return window_; }
  UINT GetTemplateId() const { return templateId_; }

 protected:
  // The message table: answers true when a handler took the message, with
  // its result. Unhandled messages get the default dialog handling.
  virtual bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

  // Called after the last message (WM_NCDESTROY); the window is gone.
  virtual void OnFinalMessage() {}

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  UINT templateId_;
  LPARAM initParam_ = 0;
};

// One row of a message table: a window message, or a WM_COMMAND whose
// command or control identifier (the low word of wParam) is code; the
// notification code is not looked at. A handler may clear handled to let
// the next rows and the default handling see the message.
template <class T>
struct MessageRoute {
  enum Kind { kMessage, kCommand };
  Kind kind;
  UINT code;
  LRESULT (T::*handler)(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
};

// Runs a message through a table, rows in order.
template <class T>
bool RouteMessage(T* self, std::span<const MessageRoute<T>> table, UINT message, WPARAM wParam, LPARAM lParam,
                  LRESULT& result) {
  for (const MessageRoute<T>& route : table) {
    bool matches = route.kind == MessageRoute<T>::kMessage
                       ? message == route.code
                       : message == WM_COMMAND && LOWORD(wParam) == route.code;
    if (!matches) continue;
    bool handled = true;
    LRESULT answer = (self->*route.handler)(message, wParam, lParam, handled);
    if (handled) {
      result = answer;
      return true;
    }
  }
  return false;
}

}  // namespace parlex::win32
