#include "platform/win32/dialog_base.h"

#include "platform/win32/app_module.h"

namespace parlex::win32 {

namespace {

// Messages whose dialog-procedure answer is the result itself rather than
// TRUE with the result in DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

CDialogBase::~CDialogBase() {
  if (window_) {
    HWND hwnd = window_;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    window_ = nullptr;
    ::DestroyWindow(hwnd);
  }
}

HWND CDialogBase::Create(HWND parent, LPARAM initParam) {
  initParam_ = initParam;
  return ::CreateDialogParamW(g_module.GetModuleInstance(), MAKEINTRESOURCEW(templateId_), parent, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

bool CDialogBase::DestroyWindow() { return window_ && ::DestroyWindow(window_); }

INT_PTR CDialogBase::DoModal(HWND owner, LPARAM initParam) {
  initParam_ = initParam;
  return ::DialogBoxParamW(g_module.GetModuleInstance(), MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool CDialogBase::EndDialog(INT_PTR result) { return window_ && ::EndDialog(window_, result); }

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialogBase* self;
  if (message == WM_INITDIALOG) {
    // The first message routed: the controls exist, the window is not shown.
    self = reinterpret_cast<CDialogBase*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->window_ = hwnd;
    lParam = self->initParam_;
  } else {
    self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;

  LRESULT result = 0;
  bool handled = self->ProcessWindowMessage(message, wParam, lParam, result);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->window_ = nullptr;
    self->OnFinalMessage();
    return FALSE;
  }
  if (!handled) return FALSE;
  if (AnswersDirectly(message)) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace parlex::win32
