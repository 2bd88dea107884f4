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
  if (m_hWnd) {
    HWND hwnd = m_hWnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    m_hWnd = nullptr;
    ::DestroyWindow(hwnd);
  }
}

HWND CDialogBase::Create(HWND parent, LPARAM initParam) {
  m_lInitParam = initParam;
  return ::CreateDialogParamW(g_module.GetModuleInstance(), MAKEINTRESOURCEW(m_nTemplateId), parent,
                              DialogProc, reinterpret_cast<LPARAM>(this));
}

bool CDialogBase::DestroyWindow() { return m_hWnd && ::DestroyWindow(m_hWnd); }

INT_PTR CDialogBase::DoModal(HWND owner, LPARAM initParam) {
  m_lInitParam = initParam;
  return ::DialogBoxParamW(g_module.GetModuleInstance(), MAKEINTRESOURCEW(m_nTemplateId), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool CDialogBase::EndDialog(INT_PTR result) { return m_hWnd && ::EndDialog(m_hWnd, result); }

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialogBase* self;
  if (message == WM_INITDIALOG) {
    // The first message routed: the controls exist, the window is not shown.
    self = reinterpret_cast<CDialogBase*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->m_hWnd = hwnd;
    lParam = self->m_lInitParam;
  } else {
    self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;

  LRESULT result = 0;
  bool handled = self->ProcessWindowMessage(message, wParam, lParam, result);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    self->OnFinalMessage();
    return FALSE;
  }
  if (!handled) return FALSE;
  if (AnswersDirectly(message)) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace parlex::win32
