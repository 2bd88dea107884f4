#include "capture_harness_win32.h"

// clang-format off
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/win32/com_ptr.h"
#include "platform/win32/wide_text.h"

namespace parlex::test {

namespace gp = Gdiplus::DllExports;
using parlex::win32::AsWide;

namespace {

constexpr wchar_t kPatternClass[] = L"ParlexCapturePattern";
constexpr wchar_t kScriptClass[] = L"ParlexCaptureScript";

LRESULT CALLBACK PatternProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_ERASEBKGND) return 1;
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    const int cell = PatternWindow::kCell;
    for (int y = ps.rcPaint.top / cell * cell; y < ps.rcPaint.bottom; y += cell) {
      for (int x = ps.rcPaint.left / cell * cell; x < ps.rcPaint.right; x += cell) {
        const Color c = PatternWindow::At(x, y);
        HBRUSH brush = ::CreateSolidBrush(RGB(RedOf(c), GreenOf(c), BlueOf(c)));
        RECT r{x, y, x + cell, y + cell};
        ::FillRect(dc, &r, brush);
        ::DeleteObject(brush);
      }
    }
    ::EndPaint(hwnd, &ps);
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void EnsureGdiplus() {
  static const bool started = [] {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
  }();
  (void)started;
}

}  // namespace

PatternWindow::PatternWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = PatternProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kPatternClass;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  ::RegisterClassW(&wc);  // fails harmlessly when registered before
  hwnd_ =
      ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kPatternClass, L"pattern", WS_POPUP | WS_VISIBLE, 0,
                        0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                        ::GetModuleHandleW(nullptr), nullptr);
  ::UpdateWindow(hwnd_);
  // Until the X server shows what was painted.
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < 300) {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
    ::Sleep(10);
  }
}

PatternWindow::~PatternWindow() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

Color PatternWindow::At(int x, int y) {
  const int cx = x / kCell;
  const int cy = y / kCell;
  // Red never above green or blue, no channel near white: far from the
  // annotations' red (255, 0, 0) and the editor's white.
  return Rgb(static_cast<uint8_t>(40 + (cx * 53 + cy * 17) % 101),
             static_cast<uint8_t>(80 + (cx * 29 + cy * 71) % 121),
             static_cast<uint8_t>(80 + (cx * 97 + cy * 43) % 121));
}

bool PatternWindow::InsideCell(int x, int y, int margin) {
  const int fx = x % kCell;
  const int fy = y % kCell;
  return fx >= margin && fx < kCell - margin && fy >= margin && fy < kCell - margin;
}

InputScript::InputScript(std::vector<Step> steps, std::function<void()> onTimeout, DWORD limitMs)
    : steps_(std::move(steps)),
      onTimeout_(std::move(onTimeout)),
      start_(::GetTickCount()),
      limitMs_(limitMs) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &InputScript::Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kScriptClass;
  ::RegisterClassW(&wc);
  hwnd_ = ::CreateWindowExW(0, kScriptClass, L"script", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                            ::GetModuleHandleW(nullptr), nullptr);
  ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetTimer(hwnd_, 1, 20, nullptr);
}

InputScript::~InputScript() { ::DestroyWindow(hwnd_); }

InputScript::Step InputScript::Do(std::function<void()> action) {
  return [action = std::move(action)] {
    action();
    return true;
  };
}

InputScript::Step InputScript::WaitFor(std::function<bool()> condition) { return condition; }

InputScript::Step InputScript::Pause(int ticks) {
  return [left = ticks]() mutable { return --left <= 0; };
}

LRESULT CALLBACK InputScript::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<InputScript*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_TIMER && self && wp == 1) {
    self->Tick();
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void InputScript::Tick() {
  if (running_ || timedOut_) return;
  if (::GetTickCount() - start_ > limitMs_) {
    timedOut_ = true;
    ::KillTimer(hwnd_, 1);
    if (onTimeout_) onTimeout_();
    return;
  }
  if (Done()) {
    ::KillTimer(hwnd_, 1);
    return;
  }
  running_ = true;
  if (steps_[next_]()) ++next_;
  running_ = false;
}

void PostPress(HWND window, int x, int y) {
  ::PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
}
void PostMove(HWND window, int x, int y) {
  ::PostMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
}
void PostRelease(HWND window, int x, int y) { ::PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }

void PostText(HWND window, std::u16string_view text) {
  for (char16_t c : text) ::PostMessageW(window, WM_CHAR, c, 1);
}

void PostClick(HWND dialog, int id) {
  if (HWND button = ::GetDlgItem(dialog, id)) ::PostMessageW(button, BM_CLICK, 0, 0);
}

BOOL CALLBACK FindFileDialog(HWND hwnd, LPARAM lp) {
  wchar_t cls[16] = {};
  ::GetClassNameW(hwnd, cls, 16);
  // The file dialog: a shown dialog with a file name field.
  if (std::wcscmp(cls, L"#32770") == 0 && ::IsWindowVisible(hwnd) &&
      (::GetDlgItem(hwnd, 0x47C) || ::GetDlgItem(hwnd, 0x480))) {
    *reinterpret_cast<HWND*>(lp) = hwnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindCaptureDialog(HWND hwnd, LPARAM lp) {
  wchar_t cls[16] = {};
  ::GetClassNameW(hwnd, cls, 16);
  // The only dialog with the send button 1013.
  if (std::wcscmp(cls, L"#32770") == 0 && ::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, 1013)) {
    *reinterpret_cast<HWND*>(lp) = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindCaptureWindow() {
  HWND found = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), FindCaptureDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND FindSaveDialog() {
  HWND found = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), FindFileDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

void AnswerSaveDialog(HWND dialog, const std::u16string& path) {
  // The name field is a combo box (cmb13) or an edit (edt1), by template.
  const std::wstring wide(AsWide(path.c_str()), path.size());
  if (HWND combo = ::GetDlgItem(dialog, 0x47C)) ::SetWindowTextW(combo, wide.c_str());
  if (HWND edit = ::GetDlgItem(dialog, 0x480)) ::SetWindowTextW(edit, wide.c_str());
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
}

std::optional<PixelBuffer> DecodeImage(std::string_view bytes) {
  EnsureGdiplus();
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!memory) return std::nullopt;
  std::memcpy(::GlobalLock(memory), bytes.data(), bytes.size());
  ::GlobalUnlock(memory);
  parlex::win32::ComPtr<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, stream.Put()))) {
    ::GlobalFree(memory);
    return std::nullopt;
  }
  Gdiplus::GpBitmap* bitmap = nullptr;
  if (gp::GdipCreateBitmapFromStream(stream.Get(), &bitmap) != Gdiplus::Ok || !bitmap) return std::nullopt;
  UINT w = 0, h = 0;
  gp::GdipGetImageWidth(bitmap, &w);
  gp::GdipGetImageHeight(bitmap, &h);
  PixelBuffer out(static_cast<int>(w), static_cast<int>(h));
  Gdiplus::BitmapData data{};
  Gdiplus::GpRect all(0, 0, static_cast<INT>(w), static_cast<INT>(h));
  if (gp::GdipBitmapLockBits(bitmap, &all, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &data) ==
      Gdiplus::Ok) {
    for (UINT y = 0; y < h; ++y) {
      const auto* row =
          reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(data.Scan0) + y * data.Stride);
      for (UINT x = 0; x < w; ++x) out.Set(static_cast<int>(x), static_cast<int>(y), row[x] & 0xFFFFFF);
    }
    gp::GdipBitmapUnlockBits(bitmap, &data);
  }
  gp::GdipDisposeImage(bitmap);
  return out;
}

bool Near(Color a, Color b, int tolerance) {
  return std::abs(RedOf(a) - RedOf(b)) <= tolerance && std::abs(GreenOf(a) - GreenOf(b)) <= tolerance &&
         std::abs(BlueOf(a) - BlueOf(b)) <= tolerance;
}

bool Reddish(Color c) { return RedOf(c) > GreenOf(c) + 50 && RedOf(c) > BlueOf(c) + 50; }

std::string MultipartPart(std::string_view request, std::string_view name) {
  const std::string marker = "name=\"" + std::string(name) + "\"";
  size_t at = request.find(marker);
  if (at == std::string_view::npos) return {};
  at = request.find("\r\n\r\n", at);
  if (at == std::string_view::npos) return {};
  at += 4;
  const size_t boundary = request.find("MULTI-PARTS-FORM-DATA-BOUNDARY", at);
  if (boundary == std::string_view::npos) return {};
  const size_t end = request.rfind("\r\n", boundary);
  if (end == std::string_view::npos || end < at) return {};
  return std::string(request.substr(at, end - at));
}

}  // namespace parlex::test
