// The page's capture(12, 34) through the main window's external object, as
// the script engine calls it, with the real capture window over a pattern on
// the screen and posted input: the main window steps aside and comes back,
// and only a send reaches the page's onFileSent, before capture returns.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "capture/screen_dlg.h"
#include "capture/win32/capture_files_win32.h"
#include "capture_harness_win32.h"
#include "common/text.h"
#include "main_dlg_fixture.h"
#include "resource.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace parlex::app::win32::testing {
namespace {

using parlex::test::InputScript;

class TestFiles : public parlex::win32::CaptureFilesWin32 {
 public:
  std::u16string folder;
  std::u16string TempDirectory() override { return folder; }
  std::u16string PicturesDirectory() override { return folder; }
};

// The main window of a chat page whose upload goes to the test's server and
// whose onFileSent is recorded.
class CaptureMainDlg : public CMainDlg {
 public:
  std::u16string uploadUrl;
  TestFiles* files = nullptr;
  // What happened, in order: "onFileSent:<reply>", "returned".
  std::vector<std::string> events;
  bool shownAtCallback = false;

  IDispatch* External() { return static_cast<Dispatcher*>(this); }
  // The balloons raised, as "title|text".
  std::vector<std::u16string> balloons;
  void notify(const std::u16string& title, const std::u16string& text) override {
    balloons.push_back(title + u"|" + text);
    CMainDlg::notify(title, text);
  }

 protected:
  std::u16string CurrentPageAddress() override { return PARLEX_CHAT_URL u"embeded"; }
  void PrepareCapture(CScreenDlg& dialog) override {
    dialog.SetUploadUrl(uploadUrl);
    if (files) dialog.SetFiles(files);
  }
  void CallPageOnFileSent(std::u16string_view reply) override {
    shownAtCallback = ::IsWindowVisible(GetHwnd()) != FALSE;
    events.push_back("onFileSent:" + ToUtf8(reply));
  }
};

class CaptureCallTest : public MainDlgTest {
 protected:
  void SetUp() override {
    MainDlgTest::SetUp();
    ASSERT_TRUE(dir.Ok());
    files.folder = dir.Text();
    dialog.files = &files;
    ASSERT_TRUE(dialog.Create());
    ::SetCursorPos(5, ::GetSystemMetrics(SM_CYSCREEN) - 5);
  }

  // The page's call: capture(12, 34), the arguments reversed as a script
  // engine passes them. Records "returned" once it is back.
  void CallCapture(std::vector<InputScript::Step> steps) {
    InputScript script(std::move(steps), [] {
      if (HWND save = parlex::test::FindSaveDialog()) ::PostMessageW(save, WM_COMMAND, IDCANCEL, 0);
      if (HWND capture = parlex::test::FindCaptureWindow()) ::PostMessageW(capture, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(InvokeCapture(dialog.External(), 12, 34), S_OK);
    dialog.events.push_back("returned");
    EXPECT_FALSE(script.TimedOut()) << "stuck at step " << script.StepReached();
    EXPECT_TRUE(script.Done());
  }

  // Waits for the capture window, notes whether the main window is hidden
  // meanwhile, spans a selection and waits for the toolbar.
  std::vector<InputScript::Step> Select(Rect s) {
    return {
        InputScript::WaitFor([this] { return (capture = parlex::test::FindCaptureWindow()) != nullptr; }),
        InputScript::Do([this] { hiddenDuringCapture = !::IsWindowVisible(dialog.GetHwnd()); }),
        InputScript::Pause(3),
        InputScript::Do([this, s] {
          parlex::test::PostPress(capture, s.left, s.top);
          parlex::test::PostMove(capture, s.right, s.bottom);
          parlex::test::PostRelease(capture, s.right, s.bottom);
        }),
        InputScript::WaitFor([this] { return ::IsWindowVisible(::GetDlgItem(capture, kBtnSend)) != FALSE; }),
    };
  }
  InputScript::Step Click(int id) {
    return InputScript::Do([this, id] { parlex::test::PostClick(capture, id); });
  }

  parlex::test::TempDir dir{"capture-call"};
  TestFiles files;
  CaptureMainDlg dialog;
  HWND capture = nullptr;
  bool hiddenDuringCapture = false;
};

TEST_F(CaptureCallTest, ASendHandsTheReplyToThePageBeforeCaptureReturns) {
  parlex::test::PatternWindow pattern;
  parlex::test::LoopbackServer server(parlex::test::ScriptedReply::Text("received 7.jpg"));
  ASSERT_TRUE(server.Start());
  dialog.uploadUrl = server.Url(u"/resource/staff/image");
  ASSERT_FALSE(::IsWindowVisible(dialog.GetHwnd()));

  std::vector<InputScript::Step> steps = Select(Rect{400, 300, 640, 480});
  steps.push_back(Click(kBtnSend));
  CallCapture(std::move(steps));

  EXPECT_TRUE(hiddenDuringCapture);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"onFileSent:received 7.jpg", "returned"}));
  EXPECT_TRUE(dialog.shownAtCallback);
  EXPECT_TRUE(::IsWindowVisible(dialog.GetHwnd()));
  const std::string request = server.Received(0);
  EXPECT_EQ(parlex::test::MultipartPart(request, "companyId"), "12");
  EXPECT_EQ(parlex::test::MultipartPart(request, "visitorId"), "34");
  const std::optional<PixelBuffer> image =
      parlex::test::DecodeImage(parlex::test::MultipartPart(request, "upload"));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Width(), 240);
  EXPECT_EQ(image->Height(), 180);
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(CaptureCallTest, EscapeAndSaveCallNothingInThePage) {
  parlex::test::LoopbackServer server(parlex::test::ScriptedReply::Text("never"));
  ASSERT_TRUE(server.Start());
  dialog.uploadUrl = server.Url(u"/resource/staff/image");

  std::vector<InputScript::Step> esc = Select(Rect{100, 100, 300, 200});
  esc.push_back(InputScript::Do([this] { ::PostMessageW(capture, WM_KEYDOWN, VK_ESCAPE, 1); }));
  CallCapture(std::move(esc));
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"returned"}));
  EXPECT_TRUE(::IsWindowVisible(dialog.GetHwnd()));  // shown, though hidden before the call

  dialog.events.clear();
  const std::u16string chosen = dir.Text() + u"saved.jpg";
  std::vector<InputScript::Step> save = Select(Rect{100, 100, 300, 200});
  save.push_back(Click(kBtnSave));
  save.push_back(InputScript::WaitFor([] { return parlex::test::FindSaveDialog() != nullptr; }));
  save.push_back(
      InputScript::Do([chosen] { parlex::test::AnswerSaveDialog(parlex::test::FindSaveDialog(), chosen); }));
  CallCapture(std::move(save));
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"returned"}));
  EXPECT_TRUE(::IsWindowVisible(dialog.GetHwnd()));
  const std::optional<PixelBuffer> image =
      parlex::test::DecodeImage(parlex::test::TempDir::Read(dir.File("saved.jpg")));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Width(), 200);
  EXPECT_EQ(image->Height(), 100);
  EXPECT_EQ(server.Connections(), 0u);
}

TEST_F(CaptureCallTest, AnUnreachableServerGivesThePageTheEmptyText) {
  uint16_t port = 0;
  {
    parlex::test::LoopbackServer gone(std::vector<parlex::test::ScriptedReply>{});
    ASSERT_TRUE(gone.Start());
    port = gone.Port();
  }
  dialog.uploadUrl = u"http://127.0.0.1:" + FromUtf8(std::to_string(port)) + u"/resource/staff/image";
  std::vector<InputScript::Step> steps = Select(Rect{10, 20, 110, 70});
  steps.push_back(Click(kBtnSend));
  CallCapture(std::move(steps));
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"onFileSent:", "returned"}));
  // The capture is kept under its dated name.
  std::vector<std::filesystem::path> kept;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) kept.push_back(entry.path());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].extension(), ".jpg");
  // The agent is told where it went.
  EXPECT_EQ(dialog.balloons, (std::vector<std::u16string>{u"截屏未发送|已保存到 " + kept[0].u16string()}));
}

// A way out asked for while the capture is up (the page's quit from one of
// its timers, the tray's exit): the capture ends as Esc ends it, the page's
// call returns, and only then does the program leave with the code asked
// for, its window never shown again.
TEST_F(CaptureCallTest, AWayOutDuringACaptureEndsTheCaptureFirstThenLeaves) {
  parlex::test::LoopbackServer server(parlex::test::ScriptedReply::Text("never"));
  ASSERT_TRUE(server.Start());
  dialog.uploadUrl = server.Url(u"/resource/staff/image");
  HWND main = dialog.GetHwnd();
  bool wayOutTaken = false;
  std::vector<InputScript::Step> steps = Select(Rect{100, 100, 300, 200});
  steps.push_back(InputScript::Do([&] {
    // The page's quit, as its script engine calls it.
    wchar_t name[] = L"quit";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(dialog.External()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(dialog.External()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                                        nullptr, nullptr),
              S_OK);
    // The tray's exit after it changes nothing: the first way out holds.
    ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(ID_TRAY_EXIT, 0), 0);
    wayOutTaken = true;
  }));
  CallCapture(std::move(steps));
  EXPECT_TRUE(wayOutTaken);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"returned"}));
  EXPECT_EQ(parlex::test::FindCaptureWindow(), nullptr);
  // The call has returned with the window still there and hidden; the
  // program goes from the message loop.
  EXPECT_TRUE(::IsWindow(main));
  EXPECT_FALSE(::IsWindowVisible(main));
  EXPECT_EQ(loop.Run(), 0);
  EXPECT_FALSE(::IsWindow(main));
  EXPECT_EQ(server.Connections(), 0u);
}

// The program's own callback, where Wine has no HTML engine: no document,
// so nothing is called and nothing fails.
class PlainMainDlg : public CMainDlg {
 public:
  IDispatch* External() { return static_cast<Dispatcher*>(this); }
  // The balloons raised, as "title|text".
  std::vector<std::u16string> balloons;
  void notify(const std::u16string& title, const std::u16string& text) override {
    balloons.push_back(title + u"|" + text);
    CMainDlg::notify(title, text);
  }
  std::u16string uploadUrl;
  TestFiles* files = nullptr;

 protected:
  std::u16string CurrentPageAddress() override { return PARLEX_CHAT_URL u"embeded"; }
  void PrepareCapture(CScreenDlg& dialog) override {
    dialog.SetUploadUrl(uploadUrl);
    dialog.SetFiles(files);
  }
};

TEST_F(MainDlgTest, APageWithoutDocumentGetsNoCallbackAndNoError) {
  parlex::test::TempDir dir("capture-plain");
  ASSERT_TRUE(dir.Ok());
  TestFiles files;
  files.folder = dir.Text();
  parlex::test::LoopbackServer server(parlex::test::ScriptedReply::Text("ok"));
  ASSERT_TRUE(server.Start());
  PlainMainDlg dialog;
  dialog.files = &files;
  dialog.uploadUrl = server.Url(u"/resource/staff/image");
  ASSERT_TRUE(dialog.Create());
  HWND capture = nullptr;
  InputScript script(
      {InputScript::WaitFor([&] { return (capture = parlex::test::FindCaptureWindow()) != nullptr; }),
       InputScript::Pause(3), InputScript::Do([&] {
         parlex::test::PostPress(capture, 10, 10);
         parlex::test::PostMove(capture, 60, 40);
         parlex::test::PostRelease(capture, 60, 40);
       }),
       InputScript::WaitFor([&] { return ::IsWindowVisible(::GetDlgItem(capture, kBtnSend)) != FALSE; }),
       InputScript::Do([&] { parlex::test::PostClick(capture, kBtnSend); })},
      [&] {
        if (HWND c = parlex::test::FindCaptureWindow()) ::PostMessageW(c, WM_COMMAND, IDCANCEL, 0);
      });
  EXPECT_EQ(InvokeCapture(dialog.External(), 12, 34), S_OK);
  EXPECT_TRUE(script.Done());
  EXPECT_FALSE(script.TimedOut());
  // The upload happened; the page simply was not there to hear of it.
  EXPECT_EQ(parlex::test::MultipartPart(server.Received(0), "companyId"), "12");
  EXPECT_TRUE(::IsWindowVisible(dialog.GetHwnd()));
}

}  // namespace
}  // namespace parlex::app::win32::testing
