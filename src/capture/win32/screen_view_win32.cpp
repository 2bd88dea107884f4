#include "capture/win32/screen_view_win32.h"

#include <commctrl.h>

#include <array>
#include <cstring>
#include <vector>

#include "capture/desktop_layout.h"
#include "capture/dib_image.h"
#include "capture/win32/image_encoder_win32.h"
#include "capture/win32/save_dialog_win32.h"
#include "capture/win32/tracker_resources_win32.h"
#include "platform/win32/app_module.h"
#include "platform/win32/wide_text.h"
#include "resource.h"

namespace parlex::win32 {

namespace {

using Route = MessageRoute<ScreenViewWin32>;

constexpr COLORREF kEditorBackground = RGB(255, 255, 255);
constexpr COLORREF kEditorText = RGB(255, 0, 0);
constexpr Color kEditorFrame = Rgb(127, 127, 127);

// The signed 16-bit client coordinates of a mouse message.
Point MousePoint(LPARAM lParam) {
  return Point{static_cast<int16_t>(LOWORD(lParam)), static_cast<int16_t>(HIWORD(lParam))};
}

// A dialog the capture window owns (the save question) is answered "cancel".
BOOL CALLBACK CancelOwnedQuestion(HWND window, LPARAM owner) {
  if (::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner) && ::IsWindowVisible(window))
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

RECT ToRect(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// The view whose shortcuts the thread's message filter serves: one capture
// runs at a time, on the UI thread.
ScreenViewWin32* g_keyView = nullptr;

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (::GetMonitorInfoW(monitor, &info)) {
    const RECT& b = info.rcMonitor;
    const RECT& w = info.rcWork;
    reinterpret_cast<std::vector<MonitorArea>*>(data)->push_back(
        MonitorArea{Rect{b.left, b.top, b.right, b.bottom}, Rect{w.left, w.top, w.right, w.bottom}});
  }
  return TRUE;
}

// Every monitor in virtual-desktop pixels; the process is per-monitor DPI
// aware, so these are each monitor's own device pixels.
std::vector<MonitorArea> DesktopMonitors() {
  std::vector<MonitorArea> monitors;
  ::EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
  if (monitors.empty()) {
    const Rect primary{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    monitors.push_back(MonitorArea{primary, primary});
  }
  return monitors;
}

// The rectangles of a region, in the window's client pixels.
std::vector<RECT> RegionRects(HRGN region) {
  std::vector<RECT> out;
  const DWORD size = ::GetRegionData(region, 0, nullptr);
  if (size == 0) return out;
  std::vector<uint8_t> data(size);
  auto* header = reinterpret_cast<RGNDATA*>(data.data());
  if (::GetRegionData(region, size, header) == 0) return out;
  const auto* rects = reinterpret_cast<const RECT*>(header->Buffer);
  out.assign(rects, rects + header->rdh.nCount);
  return out;
}

}  // namespace

ScreenViewWin32::ScreenViewWin32(CScreenDlg& dialog) : CDialogBase(IDD_SCREENDLG), dialog_(dialog) {
  dialog_.SetView(this);
}

ScreenViewWin32::~ScreenViewWin32() {
  // The dialog may live on after its view: it must not reach back into it.
  dialog_.Detach();
  ReleaseDragCanvas(dragCanvas_ ? &*dragCanvas_ : nullptr);
  DestroyWindow();
  if (keyFilter_) ::UnhookWindowsHookEx(keyFilter_);
  if (g_keyView == this) g_keyView = nullptr;
}

int ScreenViewWin32::RunModal(HWND owner) { return static_cast<int>(DoModal(owner)); }

bool ScreenViewWin32::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  static const Route kRoutes[] = {
      {Route::kMessage, WM_INITDIALOG, &ScreenViewWin32::OnInitDialog},
      {Route::kMessage, WM_ERASEBKGND, &ScreenViewWin32::OnEraseBackground},
      {Route::kMessage, WM_PAINT, &ScreenViewWin32::OnPaint},
      {Route::kMessage, WM_SETCURSOR, &ScreenViewWin32::OnSetCursor},
      {Route::kMessage, WM_LBUTTONDOWN, &ScreenViewWin32::OnMouse},
      {Route::kMessage, WM_MOUSEMOVE, &ScreenViewWin32::OnMouse},
      {Route::kMessage, WM_LBUTTONUP, &ScreenViewWin32::OnMouse},
      {Route::kMessage, WM_CTLCOLOREDIT, &ScreenViewWin32::OnCtlColorEdit},
      {Route::kMessage, WM_COMMAND, &ScreenViewWin32::OnCommand},
      {Route::kMessage, WM_DESTROY, &ScreenViewWin32::OnDestroy},
  };
  return RouteMessage<ScreenViewWin32>(this, kRoutes, message, wParam, lParam, result);
}

LRESULT ScreenViewWin32::OnInitDialog(UINT, WPARAM, LPARAM, bool&) {
  HWND hwnd = GetHwnd();
  const DesktopLayout layout = LayOutDesktop(DesktopMonitors());
  const Rect& desktop = layout.desktop;
  const int cx = desktop.right - desktop.left;
  const int cy = desktop.bottom - desktop.top;

  // The screen is read before this window shows: the caller has already
  // stepped its own window out of the way. A screen that cannot be read, or
  // no memory to show it, ends the capture at once: a black picture must not
  // be sent as if it were the agent's screen.
  std::optional<PixelBuffer> snapshot = GrabScreen(desktop.left, desktop.top, cx, cy);
  backBuffer_ = std::make_unique<DibSection>(nullptr, cx, cy);
  if (!snapshot || !backBuffer_->Ok()) {
    dialog_.OnCancel();
    return TRUE;
  }

  trackHost_.emplace(hwnd);
  InitTracker(dialog_.Tracker());
  editBrush_.Reset(::CreateSolidBrush(kEditorBackground));
  dialog_.OnInitDialog(std::move(*snapshot), layout.monitors);

  // Children are never painted over: the window's paint covers only itself.
  ::SetWindowLongW(hwnd, GWL_STYLE, ::GetWindowLongW(hwnd, GWL_STYLE) | WS_CLIPCHILDREN);
  ::SetWindowPos(hwnd, HWND_TOPMOST, desktop.left, desktop.top, cx, cy, SWP_SHOWWINDOW);
  AddTooltips();
  if (!keyFilter_) {
    g_keyView = this;
    keyFilter_ = ::SetWindowsHookExW(WH_MSGFILTER, KeyFilter, nullptr, ::GetCurrentThreadId());
  }

  icon_.Reset(static_cast<HICON>(::LoadImageW(g_module.GetModuleInstance(), MAKEINTRESOURCEW(IDI_PARLEX),
                                              IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                              ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR)));
  if (icon_) ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.Get()));
  return TRUE;
}

LRESULT ScreenViewWin32::OnEraseBackground(UINT, WPARAM, LPARAM, bool&) {
  // The paint puts every pixel of the invalid area itself.
  return 1;
}

LRESULT ScreenViewWin32::OnPaint(UINT, WPARAM, LPARAM, bool&) {
  HWND hwnd = GetHwnd();
  ScopedGdiObject<HRGN> invalid(::CreateRectRgn(0, 0, 0, 0));
  const bool haveRegion = invalid && ::GetUpdateRgn(hwnd, invalid.Get(), FALSE) != ERROR;

  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(hwnd, &ps);
  if (!dc) return 0;
  if (::IsIconic(hwnd)) {
    PaintMinimized(dc);
  } else if (backBuffer_ && backBuffer_->Ok()) {
    std::vector<RECT> rects = haveRegion ? RegionRects(invalid.Get()) : std::vector<RECT>{};
    if (rects.empty()) rects.push_back(ps.rcPaint);
    uint32_t* frame = backBuffer_->Bits();
    ::GdiFlush();
    for (const RECT& r : rects) {
      dialog_.ComposeBackground(Rect{r.left, r.top, r.right, r.bottom}, frame, backBuffer_->Width());
    }
    // During a shape drag the overlay goes to the window DC held since the
    // press, so the background must be on the screen first. Otherwise the
    // overlay joins the background in the buffer and the screen gets both
    // in one blit.
    const bool overlayOnScreen = dialog_.m_bDrawing;
    if (!overlayOnScreen) {
      GdiCanvas canvas(backBuffer_->Dc());
      const Rect bounds{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom};
      canvas.SetClipRect(&bounds);
      dialog_.PaintOverlay(canvas);
    }
    ::GdiFlush();
    for (const RECT& r : rects) {
      ::BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, backBuffer_->Dc(), r.left, r.top,
               SRCCOPY);
    }
    if (overlayOnScreen) {
      GdiCanvas canvas(dc);
      dialog_.PaintOverlay(canvas);
    }
  }
  ::EndPaint(hwnd, &ps);
  return 0;
}

void ScreenViewWin32::PaintMinimized(HDC dc) {
  HWND hwnd = GetHwnd();
  ::SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  ::GetClientRect(hwnd, &client);
  const int cx = ::GetSystemMetrics(SM_CXICON);
  const int cy = ::GetSystemMetrics(SM_CYICON);
  if (icon_) ::DrawIcon(dc, (client.right - cx + 1) / 2, (client.bottom - cy + 1) / 2, icon_.Get());
}

LRESULT ScreenViewWin32::OnSetCursor(UINT, WPARAM wParam, LPARAM lParam, bool& handled) {
  // Only the window's own area: buttons and the editor keep their cursors.
  if (reinterpret_cast<HWND>(wParam) == GetHwnd() && dialog_.OnSetCursor(LOWORD(lParam))) return TRUE;
  handled = false;
  return 0;
}

LRESULT ScreenViewWin32::OnMouse(UINT message, WPARAM, LPARAM lParam, bool&) {
  const Point p = MousePoint(lParam);
  if (message == WM_LBUTTONDOWN) {
    dialog_.OnLButtonDown(p);
  } else if (message == WM_MOUSEMOVE) {
    dialog_.OnMouseMove(p);
  } else {
    dialog_.OnLButtonUp(p);
  }
  return 0;
}

LRESULT ScreenViewWin32::OnCtlColorEdit(UINT, WPARAM wParam, LPARAM lParam, bool& handled) {
  auto editorDc = reinterpret_cast<HDC>(wParam);
  auto editor = reinterpret_cast<HWND>(lParam);
  if (editor != editor_) {
    handled = false;
    return 0;
  }
  ::SetBkColor(editorDc, kEditorBackground);
  ::SetTextColor(editorDc, kEditorText);

  // The frame lies one pixel outside the editor, so it is drawn on the
  // window's own DC: it shows around the editor and is never part of the
  // editor's pixels that a commit copies.
  RECT client{};
  ::GetClientRect(editor, &client);
  ::MapWindowPoints(editor, GetHwnd(), reinterpret_cast<POINT*>(&client), 2);
  ScopedWindowDc dc(GetHwnd());
  if (dc) {
    GdiCanvas canvas(dc.Get());
    canvas.SelectPen(Pen{PenStyle::kDashDotDot, kEditorFrame});
    canvas.SelectBrush(Brush::Null());
    canvas.Rectangle(Inflated(Rect{client.left, client.top, client.right, client.bottom}, 1, 1));
  }
  return reinterpret_cast<LRESULT>(editBrush_.Get());
}

LRESULT ScreenViewWin32::OnCommand(UINT, WPARAM wParam, LPARAM lParam, bool& handled) {
  const UINT id = LOWORD(wParam);
  const UINT code = HIWORD(wParam);
  const auto from = reinterpret_cast<HWND>(lParam);
  if (from && from == editor_ && code == EN_KILLFOCUS) {
    dialog_.CommitText();
  } else if (from && from == editor_ && code == EN_CHANGE) {
    dialog_.GrowTextEditor();
  } else if (id == kBtnSave && code == BN_CLICKED) {
    dialog_.OnSave();
  } else if (id == kBtnSend && code == BN_CLICKED) {
    dialog_.OnSend();
  } else if (id == kBtnUndo && code == BN_CLICKED) {
    dialog_.OnUndo();
  } else if (id == kBtnCopy && code == BN_CLICKED) {
    dialog_.OnCopy();
  } else if (id == IDCANCEL) {
    dialog_.OnCancel();
  } else {
    handled = false;
  }
  return 0;
}

LRESULT ScreenViewWin32::OnDestroy(UINT, WPARAM, LPARAM, bool& handled) {
  // A window that goes while a drag holds its DC (a quit message ends the
  // modal loop under it): the drag is given up before the DC goes.
  dialog_.Detach();
  ReleaseDragCanvas(dragCanvas_ ? &*dragCanvas_ : nullptr);
  editor_ = nullptr;  // destroyed with its parent
  status_ = nullptr;
  sizeNote_ = nullptr;
  tooltips_ = nullptr;
  if (keyFilter_) ::UnhookWindowsHookEx(keyFilter_);
  keyFilter_ = nullptr;
  if (g_keyView == this) g_keyView = nullptr;
  handled = false;
  return 0;
}

// --- IScreenView

ITrackHost& ScreenViewWin32::TrackHost() {
  if (!trackHost_) trackHost_.emplace(GetHwnd());
  return *trackHost_;
}

void ScreenViewWin32::ShowButton(int id, bool show) {
  if (HWND button = ::GetDlgItem(GetHwnd(), id)) ::ShowWindow(button, show ? SW_SHOW : SW_HIDE);
}

void ScreenViewWin32::MoveButton(int id, const Rect& cell) {
  if (HWND button = ::GetDlgItem(GetHwnd(), id)) {
    ::MoveWindow(button, cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top, TRUE);
  }
}

bool ScreenViewWin32::IsButtonChecked(int id) { return ::IsDlgButtonChecked(GetHwnd(), id) == BST_CHECKED; }

void ScreenViewWin32::UncheckButton(int id) {
  if (HWND button = ::GetDlgItem(GetHwnd(), id)) {
    ::SendMessageW(button, BM_SETCHECK, BST_UNCHECKED, 0);
    ::InvalidateRect(button, nullptr, TRUE);
    ::UpdateWindow(button);
  }
}

void ScreenViewWin32::EnableButton(int id, bool enable) {
  if (HWND button = ::GetDlgItem(GetHwnd(), id)) ::EnableWindow(button, enable ? TRUE : FALSE);
}

void ScreenViewWin32::Invalidate(const Region* region) {
  HWND hwnd = GetHwnd();
  if (!region) {
    ::InvalidateRect(hwnd, nullptr, TRUE);
    return;
  }
  ScopedGdiObject<HRGN> rgn(RegionToHrgn(*region));
  if (rgn) {
    ::InvalidateRgn(hwnd, rgn.Get(), TRUE);
  } else {
    ::InvalidateRect(hwnd, nullptr, TRUE);
  }
}

void ScreenViewWin32::InvalidateRect(const Rect& rect) {
  const RECT r = ToRect(rect);
  ::InvalidateRect(GetHwnd(), &r, TRUE);
}

void ScreenViewWin32::UpdateNow() { ::UpdateWindow(GetHwnd()); }

void ScreenViewWin32::CaptureMouse() { ::SetCapture(GetHwnd()); }

void ScreenViewWin32::ReleaseMouse() { ::ReleaseCapture(); }

Canvas* ScreenViewWin32::AcquireDragCanvas() {
  ReleaseDragCanvas(dragCanvas_ ? &*dragCanvas_ : nullptr);  // one held at a time
  dragDc_ = ::GetDC(GetHwnd());
  if (!dragDc_) return nullptr;
  dragCanvas_.emplace(dragDc_);
  return &*dragCanvas_;
}

void ScreenViewWin32::ReleaseDragCanvas(Canvas* canvas) {
  if (!dragCanvas_ || canvas != &*dragCanvas_) return;
  dragCanvas_.reset();  // gives the DC back as it was
  ::ReleaseDC(GetHwnd(), dragDc_);
  dragDc_ = nullptr;
}

bool ScreenViewWin32::CreateEditor(Point at) {
  if (editor_) return true;
  editor_ = ::CreateWindowExW(0, L"EDIT", L"",
                              WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, at.x,
                              at.y, 0, 0, GetHwnd(), nullptr, g_module.GetModuleInstance(), nullptr);
  return editor_ != nullptr;
}

bool ScreenViewWin32::HasEditor() { return editor_ != nullptr; }

HFONT ScreenViewWin32::EditorFont() const {
  return reinterpret_cast<HFONT>(::SendMessageW(editor_, WM_GETFONT, 0, 0));
}

EditorMetrics ScreenViewWin32::EditorTextMetrics() {
  if (!editor_) return {};
  ScopedWindowDc dc(editor_);
  if (!dc) return {};
  ScopedSelection font(dc.Get(), EditorFont());
  TEXTMETRICW tm{};
  if (!::GetTextMetricsW(dc.Get(), &tm)) return {};
  return EditorMetrics{tm.tmHeight, tm.tmExternalLeading, tm.tmAveCharWidth};
}

int32_t ScreenViewWin32::EditorTextWidth(std::u16string_view line) {
  if (!editor_ || line.empty()) return 0;
  ScopedWindowDc dc(editor_);
  if (!dc) return 0;
  ScopedSelection font(dc.Get(), EditorFont());
  SIZE size{};
  if (!::GetTextExtentPoint32W(dc.Get(), AsWide(line.data()), static_cast<int>(line.size()), &size)) return 0;
  return size.cx;
}

Rect ScreenViewWin32::EditorRect() {
  if (!editor_) return {};
  RECT r{};
  ::GetWindowRect(editor_, &r);
  ::MapWindowPoints(nullptr, GetHwnd(), reinterpret_cast<POINT*>(&r), 2);
  return Rect{r.left, r.top, r.right, r.bottom};
}

void ScreenViewWin32::MoveEditor(const Rect& rect) {
  if (!editor_) return;
  ::MoveWindow(editor_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
  ::SendMessageW(editor_, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(editor_, nullptr, TRUE);
}

void ScreenViewWin32::FocusEditor() {
  if (!editor_) return;
  ::SetFocus(editor_);
  ::ShowWindow(editor_, SW_SHOW);
}

std::u16string ScreenViewWin32::EditorText(size_t maxUnits) {
  if (!editor_) return {};
  std::vector<wchar_t> buffer(maxUnits + 1, L'\0');
  const int n = ::GetWindowTextW(editor_, buffer.data(), static_cast<int>(buffer.size()));
  return FromWide(std::wstring_view(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0));
}

int32_t ScreenViewWin32::EditorLineCount() {
  return editor_ ? static_cast<int32_t>(::SendMessageW(editor_, EM_GETLINECOUNT, 0, 0)) : 0;
}

bool ScreenViewWin32::RenderEditor(PixelBuffer* out) {
  if (!editor_ || !out) return false;
  ::HideCaret(editor_);
  ::UpdateWindow(editor_);
  std::optional<PixelBuffer> pixels = CopyClientPixels(editor_);
  if (!pixels) return false;
  *out = std::move(*pixels);
  return true;
}

void ScreenViewWin32::DestroyEditor() {
  // Forgotten first: a focused editor reports losing the focus while it goes,
  // and that report is no longer ours to commit.
  HWND editor = editor_;
  editor_ = nullptr;
  if (editor) ::DestroyWindow(editor);
}

void ScreenViewWin32::FocusWindow() { ::SetFocus(GetHwnd()); }

std::optional<std::u16string> ScreenViewWin32::AskSavePath() { return AskSavePathWin32(::GetActiveWindow()); }

std::vector<ImageEncoderInfo> ScreenViewWin32::ImageEncoders() { return ListImageEncoders(); }

std::optional<std::string> ScreenViewWin32::EncodeImage(size_t index, const PixelBuffer& image) {
  return EncodeWithEncoder(index, image);
}

void ScreenViewWin32::EndDialog(int result) {
  // A tracker drag still running (the window closed or the program leaving
  // under it) sees its capture gone and ends without commit.
  if (::GetCapture() == GetHwnd()) ::ReleaseCapture();
  // So does a save question still open (the program leaving under it).
  ::EnumThreadWindows(::GetCurrentThreadId(), CancelOwnedQuestion, reinterpret_cast<LPARAM>(GetHwnd()));
  CDialogBase::EndDialog(result);
}

void ScreenViewWin32::ShowStatus(const Rect& where, std::u16string_view text) {
  ShowNote(status_, where, text);
}

void ScreenViewWin32::ShowSizeLabel(const Rect& where, std::u16string_view text) {
  ShowNote(sizeNote_, where, text);
}

void ScreenViewWin32::ShowNote(HWND& note, const Rect& where, std::u16string_view text) {
  HWND hwnd = GetHwnd();
  if (!hwnd) return;
  if (text.empty()) {
    if (note) ::ShowWindow(note, SW_HIDE);
    return;
  }
  const std::wstring wide = ToWide(text);
  if (!note) {
    note = ::CreateWindowExW(0, L"STATIC", wide.c_str(), WS_CHILD | SS_CENTER | SS_CENTERIMAGE, 0, 0, 0, 0,
                             hwnd, nullptr, g_module.GetModuleInstance(), nullptr);
    if (!note) return;
    ::SendMessageW(note, WM_SETFONT, ::SendMessageW(hwnd, WM_GETFONT, 0, 0), FALSE);
  } else {
    ::SetWindowTextW(note, wide.c_str());
  }
  ::SetWindowPos(note, HWND_TOP, where.left, where.top, where.right - where.left, where.bottom - where.top,
                 SWP_SHOWWINDOW);
  ::UpdateWindow(note);
}

void ScreenViewWin32::AddTooltips() {
  HWND hwnd = GetHwnd();
  if (tooltips_) return;
  tooltips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd, nullptr,
                                g_module.GetModuleInstance(), nullptr);
  if (!tooltips_) return;
  // Two lines on the undo button: the line breaks need a width.
  ::SendMessageW(tooltips_, TTM_SETMAXTIPWIDTH, 0, 400);
  for (int id : kToolbarButtons) {
    HWND button = ::GetDlgItem(hwnd, id);
    if (!button) continue;
    std::wstring tip = ToWide(ButtonTooltip(id));
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd;
    tool.uId = reinterpret_cast<UINT_PTR>(button);
    tool.lpszText = tip.data();
    ::SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

LRESULT CALLBACK ScreenViewWin32::KeyFilter(int code, WPARAM wParam, LPARAM lParam) {
  auto* msg = reinterpret_cast<MSG*>(lParam);
  ScreenViewWin32* view = g_keyView;
  if (code == MSGF_DIALOGBOX && view && msg && msg->message == WM_KEYDOWN && view->GetHwnd() &&
      (msg->hwnd == view->GetHwnd() || ::IsChild(view->GetHwnd(), msg->hwnd))) {
    const auto key = static_cast<uint32_t>(msg->wParam);
    const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
    const bool shift = ::GetKeyState(VK_SHIFT) < 0;
    const bool alt = ::GetKeyState(VK_MENU) < 0;
    // An open editor keeps its own undo, redo and copy; Ctrl+S saves from it
    // too (the editor commits when the save question takes the focus).
    const bool editorKeeps =
        msg->hwnd == view->editor_ && ShortcutCommand(key, ctrl, shift, alt) != CaptureCommand::kSave;
    if (!editorKeeps && view->dialog_.OnKeyDown(key, ctrl, shift, alt)) return TRUE;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

bool ScreenViewWin32::CopyImage(const PixelBuffer& image) {
  if (image.Width() <= 0 || image.Height() <= 0) return false;
  const std::string dib = PackedDib(image);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, dib.size());
  if (!memory) return false;
  void* bytes = ::GlobalLock(memory);
  if (!bytes) {
    ::GlobalFree(memory);
    return false;
  }
  std::memcpy(bytes, dib.data(), dib.size());
  ::GlobalUnlock(memory);
  // Rendered now, not on request: the picture stays on the clipboard after
  // this window has gone. The system offers it as CF_DIBV5 and CF_BITMAP too.
  if (!::OpenClipboard(GetHwnd())) {
    ::GlobalFree(memory);
    return false;
  }
  bool placed = false;
  if (::EmptyClipboard()) placed = ::SetClipboardData(CF_DIB, memory) != nullptr;
  ::CloseClipboard();
  if (!placed) ::GlobalFree(memory);
  return placed;
}

void ScreenViewWin32::ServeWhile(const std::function<bool()>& busy) {
  // The window's own modal loop is below this one: messages are served here
  // the way it serves them (Esc becomes IDCANCEL through the dialog's
  // keyboard handling).
  bool quit = false;
  WPARAM quitCode = 0;
  while (busy()) {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        if (!quit) dialog_.OnCancel();
        quit = true;
        quitCode = msg.wParam;
        continue;
      }
      if (!GetHwnd() || !::IsDialogMessageW(GetHwnd(), &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
      if (!busy()) break;
    }
  }
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}

}  // namespace parlex::win32
