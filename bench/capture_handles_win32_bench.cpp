// Handles over a day of captures on the Windows build: 100 captures in a row
// in one process, each with the real capture window over a pattern, a
// selection, an arrow, a text (posted input) and a send to a loopback server.
// Prints the process's GDI and USER object counts (GetGuiResources) and its
// handle count after the 1st capture and every 10th, and fails when the
// counts after the last are not back to those after the first.
//
//   wine build/win32/bench/capture_handles_win32_bench.exe [COUNT]
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/screen_dlg.h"
#include "capture/win32/capture_files_win32.h"
#include "capture/win32/screen_view_win32.h"
#include "capture_harness_win32.h"
#include "platform/win32/app_module.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace {

using parlex::test::InputScript;

struct Counts {
  DWORD gdi = 0;
  DWORD user = 0;
  DWORD handles = 0;
};

Counts Now() {
  Counts c;
  c.gdi = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  c.user = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  ::GetProcessHandleCount(::GetCurrentProcess(), &c.handles);
  return c;
}

class BenchFiles : public parlex::win32::CaptureFilesWin32 {
 public:
  std::u16string folder;
  std::u16string TempDirectory() override { return folder; }
  std::u16string PicturesDirectory() override { return folder; }
};

bool OneCapture(const std::u16string& url, BenchFiles& files) {
  using namespace parlex;
  CScreenDlg dialog(12, 34);
  dialog.SetFiles(&files);
  dialog.SetUploadUrl(url);
  dialog.SetHttpSeams(PlatformHttpSeams());
  win32::ScreenViewWin32 view(dialog);
  HWND w = nullptr;
  std::vector<InputScript::Step> steps{
      InputScript::WaitFor([&] { return (w = view.GetHwnd()) && ::IsWindowVisible(w); }),
      InputScript::Do([&] {
        test::PostPress(w, 300, 200);
        test::PostMove(w, 500, 350);
        test::PostRelease(w, 700, 500);
      }),
      InputScript::WaitFor([&] { return ::IsWindowVisible(::GetDlgItem(w, kBtnSend)) != FALSE; }),
      InputScript::Do([&] { test::PostClick(w, kBtnArrow); }),
      InputScript::WaitFor([&] { return view.IsButtonChecked(kBtnArrow); }),
      InputScript::Do([&] {
        test::PostPress(w, 350, 250);
        test::PostMove(w, 420, 300);
        test::PostRelease(w, 500, 350);
      }),
      InputScript::Do([&] { test::PostClick(w, kBtnText); }),
      InputScript::WaitFor([&] { return view.IsButtonChecked(kBtnText); }),
      InputScript::Do([&] {
        test::PostPress(w, 350, 420);
        test::PostRelease(w, 350, 420);
      }),
      InputScript::WaitFor([&] { return view.EditorWindow() != nullptr; }),
      InputScript::Do([&] { test::PostText(view.EditorWindow(), u"Hi"); }),
      InputScript::Pause(2),
      InputScript::Do([&] { test::PostClick(w, kBtnSend); }),
  };
  InputScript script(std::move(steps), [&] { dialog.OnCancel(); });
  view.RunModal(nullptr);
  return dialog.m_bSent && !dialog.m_szReply.empty();
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 100;
  ::CoInitialize(nullptr);
  parlex::win32::g_module.Init(::GetModuleHandleW(nullptr));
  parlex::test::TempDir dir("capture-handles");
  BenchFiles files;
  files.folder = dir.Text();
  parlex::test::PatternWindow pattern;
  std::vector<parlex::test::ScriptedReply> replies(static_cast<size_t>(count),
                                                   parlex::test::ScriptedReply::Text("{\"id\":1}"));
  parlex::test::LoopbackServer server(replies);
  if (!server.Start()) return 2;
  const std::u16string url = server.Url(u"/resource/staff/image");
  Counts first;
  int failed = 0;
  for (int i = 1; i <= count; ++i) {
    if (!OneCapture(url, files)) ++failed;
    const Counts c = Now();
    if (i == 1) first = c;
    if (i == 1 || i % 10 == 0)
      std::printf("after %3d captures: GDI %lu  USER %lu  handles %lu\n", i, c.gdi, c.user, c.handles);
  }
  const Counts last = Now();
  std::printf("captures not sent: %d\n", failed);
  parlex::win32::g_module.Term();
  ::CoUninitialize();
  const bool back = last.gdi == first.gdi && last.user == first.user && last.handles <= first.handles;
  std::printf(back ? "counts back to those after the first capture\n" : "counts grew\n");
  return failed == 0 && back ? 0 : 1;
}
