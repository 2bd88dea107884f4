#include "update/win32/update_agent_win32.h"

#include <commctrl.h>

#include "app/shell_texts.h"
#include "update/update_texts.h"
#include "net/win32/bounded_call.h"

namespace parlex::update::win32 {

namespace {

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

constexpr int kLabelId = 100;
constexpr int kBarId = 101;

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The download cannot be called off half-way: closing is ignored.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterProgressClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(instance, kProgressWindowClass, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ProgressProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kProgressWindowClass;
  return RegisterClassExW(&wc) != 0;
}

class ProgressWindow : public IDownloadProgress {
 public:
  explicit ProgressWindow(int64_t announced) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterProgressClass(instance)) return;
    const int width = 380;
    const int height = 130;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    window_ = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kProgressWindowClass, W(kProgressCaption),
                              WS_POPUP | WS_CAPTION, x, y, width, height, GetActiveWindow(), nullptr,
                              instance, nullptr);
    if (window_ == nullptr) return;
    RECT client{};
    GetClientRect(window_, &client);
    const int inner = client.right - 24;
    label_ = CreateWindowExW(0, L"STATIC", W(DownloadProgressText(0, announced).c_str()),
                             WS_CHILD | WS_VISIBLE | SS_LEFT, 12, 12, inner, 20, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLabelId)), instance, nullptr);
    DWORD barStyle = WS_CHILD | WS_VISIBLE | (announced < 0 ? PBS_MARQUEE : 0);
    bar_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, barStyle, 12, 40, inner, 22, window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kBarId)), instance, nullptr);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (announced >= 0) {
      SendMessageW(bar_, PBM_SETRANGE32, 0, 1000);
    } else {
      SendMessageW(bar_, PBM_SETMARQUEE, TRUE, 50);
    }
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    net::win32::PumpPendingMessages();
  }

  ~ProgressWindow() override {
    if (window_ != nullptr) DestroyWindow(window_);
    net::win32::PumpPendingMessages();
  }
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  void Update(int64_t received, int64_t announced) override {
    if (window_ == nullptr) return;
    SetWindowTextW(label_, W(DownloadProgressText(received, announced).c_str()));
    int permille = DownloadProgressPermille(received, announced);
    if (permille >= 0) SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(permille), 0);
    net::win32::PumpPendingMessages();
  }

 private:
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  HWND bar_ = nullptr;
};

}  // namespace

bool UpdateAgentWin32::AskToUpdate() {
  return MessageBoxW(GetActiveWindow(), W(kAskText), W(kAskCaption), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::unique_ptr<IDownloadProgress> UpdateAgentWin32::ShowProgress(int64_t announced) {
  return std::make_unique<ProgressWindow>(announced);
}

void ShowUpdatedMessage() {
  MessageBoxW(nullptr, W(app::kUpdatedText), W(app::kUpdatedCaption), MB_OK | MB_ICONINFORMATION);
}

}  // namespace parlex::update::win32
