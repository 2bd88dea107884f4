#include "platform/win32/dialog_resize.h"

namespace parlex::win32 {

void CDialogResize::Init(HWND dialog, std::span<const Entry> layout, bool addGripper, bool useMinTrackSize,
                         DWORD forceStyle) {
  dialog_ = dialog;
  LONG_PTR style = ::GetWindowLongPtrW(dialog, GWL_STYLE);
  if ((style & forceStyle) != forceStyle) ::SetWindowLongPtrW(dialog, GWL_STYLE, style | forceStyle);
  if (!(style & WS_CHILD)) {
    // Drops the empty caption icon a sizing dialog frame would otherwise get;
    // icons set on the window stay.
    LONG_PTR exStyle = ::GetWindowLongPtrW(dialog, GWL_EXSTYLE);
    ::SetWindowLongPtrW(dialog, GWL_EXSTYLE, exStyle | WS_EX_DLGMODALFRAME);
  }
  ::SetWindowPos(dialog, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  RECT client;
  ::GetClientRect(dialog, &client);
  initialClient_ = {client.right, client.bottom};
  RECT window;
  ::GetWindowRect(dialog, &window);
  minTrackSize_ = {window.right - window.left, window.bottom - window.top};
  useMinTrackSize_ = useMinTrackSize;

  controls_.clear();
  for (const Entry& entry : layout) {
    HWND control = ::GetDlgItem(dialog, entry.controlId);
    if (!control) continue;
    RECT rect;
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    controls_.push_back({entry.controlId, entry.flags, rect});
    // A control under the gripper must not paint over it.
    if (addGripper) {
      ::SetWindowLongPtrW(control, GWL_STYLE, ::GetWindowLongPtrW(control, GWL_STYLE) | WS_CLIPSIBLINGS);
    }
  }

  if (addGripper && !gripper_) {
    int cx = ::GetSystemMetrics(SM_CXVSCROLL);
    int cy = ::GetSystemMetrics(SM_CYHSCROLL);
    gripper_ = ::CreateWindowExW(
        0, L"SCROLLBAR", nullptr, WS_CHILD | WS_CLIPSIBLINGS | SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN,
        client.right - cx, client.bottom - cy, cx, cy, dialog, reinterpret_cast<HMENU>(kGripperId),
        reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(dialog, GWLP_HINSTANCE)), nullptr);
    // Above the controls, which may cover the whole client area.
    ::SetWindowPos(gripper_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (!::IsZoomed(dialog)) ::ShowWindow(gripper_, SW_SHOWNA);
  }
}

bool CDialogResize::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (!dialog_) return false;
  switch (message) {
    case WM_GETMINMAXINFO:
      if (!useMinTrackSize_) return false;
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = minTrackSize_;
      result = 0;
      return true;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) return false;
      if (gripper_) ::ShowWindow(gripper_, wParam == SIZE_MAXIMIZED ? SW_HIDE : SW_SHOWNA);
      Layout(LOWORD(lParam), HIWORD(lParam));
      result = 0;
      return true;
    default:
      return false;
  }
}

void CDialogResize::Layout(int width, int height) {
  int dx = width - initialClient_.cx;
  int dy = height - initialClient_.cy;
  for (const Placed& placed : controls_) {
    HWND control = ::GetDlgItem(dialog_, placed.controlId);
    if (!control) continue;
    RECT rect = placed.initial;
    if (placed.flags & kMoveX) ::OffsetRect(&rect, dx, 0);
    if (placed.flags & kMoveY) ::OffsetRect(&rect, 0, dy);
    if (placed.flags & kSizeX) rect.right += dx;
    if (placed.flags & kSizeY) rect.bottom += dy;
    ::SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (gripper_) {
    RECT grip;
    ::GetWindowRect(gripper_, &grip);
    int cx = grip.right - grip.left;
    int cy = grip.bottom - grip.top;
    ::SetWindowPos(gripper_, nullptr, width - cx, height - cy, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

}  // namespace parlex::win32
