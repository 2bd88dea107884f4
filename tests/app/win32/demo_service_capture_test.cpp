// The Windows program's capture round trip against the real demo chat
// service (a Linux process started by demo_service_capture.sh, which passes
// its port and its image folder in PARLEX_DEMO_PORT and PARLEX_DEMO_IMAGES).
// The page's capture(12, 34) goes through the main window's external object,
// as the script engine calls it (Wine shows no page); posted input draws a
// selection, an arrow, a rectangle and a text over a known pattern and clicks
// "发送". The service stores a JPEG of the selection with red where the
// shapes are, and its JSON reply reaches onFileSent before capture returns.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "capture/screen_dlg.h"
#include "capture/win32/capture_files_win32.h"
#include "capture_harness_win32.h"
#include "common/text.h"
#include "main_dlg_fixture.h"
#include "support/temp_dir.h"

namespace parlex::app::win32::testing {
namespace {

namespace fs = std::filesystem;
using parlex::test::InputScript;
using parlex::test::PatternWindow;

std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD n = ::GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

// The text after `"key":` in the service's compact JSON reply, up to the next
// comma or brace (a string keeps its quotes).
std::string JsonField(const std::string& json, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  const size_t at = json.find(marker);
  if (at == std::string::npos) return {};
  const size_t from = at + marker.size();
  return json.substr(from, json.find_first_of(",}", from) - from);
}

class TestFiles : public parlex::win32::CaptureFilesWin32 {
 public:
  std::u16string folder;
  std::u16string TempDirectory() override { return folder; }
  std::u16string PicturesDirectory() override { return folder; }
};

// The main window of a chat page whose upload goes to the demo service and
// whose onFileSent is recorded.
class ServiceMainDlg : public CMainDlg {
 public:
  std::u16string uploadUrl;
  TestFiles* files = nullptr;
  // What happened, in order: "onFileSent:<reply>", "returned".
  std::vector<std::string> events;

  IDispatch* External() { return static_cast<Dispatcher*>(this); }

 protected:
  std::u16string CurrentPageAddress() override { return PARLEX_CHAT_URL u"embeded"; }
  void PrepareCapture(CScreenDlg& dialog) override {
    dialog.SetUploadUrl(uploadUrl);
    dialog.SetFiles(files);
  }
  void CallPageOnFileSent(std::u16string_view reply) override {
    events.push_back("onFileSent:" + ToUtf8(reply));
  }
};

// The selection and the shapes in it (screen pixels).
constexpr Rect kSelection{100, 100, 420, 340};
constexpr Point kArrowFrom{120, 120};
constexpr Point kArrowTo{220, 120};
constexpr Rect kRectShape{250, 130, 400, 200};
constexpr Point kTextAt{130, 260};

class DemoServiceCaptureTest : public MainDlgTest {
 protected:
  HWND Capture() const { return parlex::test::FindCaptureWindow(); }
  bool Checked(int id) const { return ::IsDlgButtonChecked(Capture(), id) == BST_CHECKED; }

  std::vector<InputScript::Step> Select(Rect s) {
    return {
        InputScript::WaitFor([this] { return Capture() != nullptr; }),
        InputScript::Pause(3),
        InputScript::Do([this, s] {
          parlex::test::PostPress(Capture(), s.left, s.top);
          parlex::test::PostMove(Capture(), (s.left + s.right) / 2, (s.top + s.bottom) / 2);
          parlex::test::PostMove(Capture(), s.right, s.bottom);
          parlex::test::PostRelease(Capture(), s.right, s.bottom);
        }),
        InputScript::WaitFor(
            [this] { return ::IsWindowVisible(::GetDlgItem(Capture(), kBtnSend)) != FALSE; }),
    };
  }
  std::vector<InputScript::Step> Drag(int tool, Point from, Point to) {
    return {
        InputScript::Do([this, tool] { parlex::test::PostClick(Capture(), tool); }),
        InputScript::WaitFor([this, tool] { return Checked(tool); }),
        InputScript::Do([this, from, to] {
          parlex::test::PostPress(Capture(), from.x, from.y);
          parlex::test::PostMove(Capture(), (from.x + to.x) / 2, (from.y + to.y) / 2);
          parlex::test::PostMove(Capture(), to.x, to.y);
          parlex::test::PostRelease(Capture(), to.x, to.y);
        }),
        InputScript::Pause(3),
    };
  }
  std::vector<InputScript::Step> Type(Point at, std::u16string text) {
    auto editor = [this] { return ::FindWindowExW(Capture(), nullptr, L"Edit", nullptr); };
    return {
        InputScript::Do([this] { parlex::test::PostClick(Capture(), kBtnText); }),
        InputScript::WaitFor([this] { return Checked(kBtnText); }),
        InputScript::Do([this, at] {
          parlex::test::PostPress(Capture(), at.x, at.y);
          parlex::test::PostRelease(Capture(), at.x, at.y);
        }),
        InputScript::WaitFor([editor] { return editor() != nullptr; }),
        InputScript::Do([editor, text] { parlex::test::PostText(editor(), text); }),
        InputScript::Pause(5),
    };
  }
};

TEST_F(DemoServiceCaptureTest, SendStoresTheMarkedSelectionAndRepliesToThePage) {
  const std::wstring port = Environment(L"PARLEX_DEMO_PORT");
  const std::wstring images = Environment(L"PARLEX_DEMO_IMAGES");
  if (port.empty() || images.empty()) GTEST_SKIP() << "run by demo_service_capture.sh, next to the service";

  parlex::test::TempDir dir("demo-capture");
  ASSERT_TRUE(dir.Ok());
  TestFiles files;
  files.folder = dir.Text();
  ServiceMainDlg dialog;
  dialog.files = &files;
  dialog.uploadUrl =
      u"http://127.0.0.1:" + std::u16string(port.begin(), port.end()) + u"/resource/staff/image";
  ASSERT_TRUE(dialog.Create());
  ::SetCursorPos(5, ::GetSystemMetrics(SM_CYSCREEN) - 5);
  PatternWindow pattern;

  std::vector<InputScript::Step> steps;
  for (auto part :
       {Select(kSelection), Drag(kBtnArrow, kArrowFrom, kArrowTo),
        Drag(kBtnRectangle, {kRectShape.left, kRectShape.top}, {kRectShape.right, kRectShape.bottom}),
        Type(kTextAt, u"HI")}) {
    steps.insert(steps.end(), part.begin(), part.end());
  }
  steps.push_back(InputScript::Do([this] { parlex::test::PostClick(Capture(), kBtnSend); }));
  {
    InputScript script(std::move(steps), [] {
      if (HWND capture = parlex::test::FindCaptureWindow()) ::PostMessageW(capture, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(InvokeCapture(dialog.External(), 12, 34), S_OK);
    dialog.events.push_back("returned");
    EXPECT_FALSE(script.TimedOut()) << "stuck at step " << script.StepReached();
    EXPECT_TRUE(script.Done());
  }

  // The service's reply reached the page before the call returned.
  ASSERT_EQ(dialog.events.size(), 2u);
  EXPECT_EQ(dialog.events[1], "returned");
  ASSERT_EQ(dialog.events[0].rfind("onFileSent:{", 0), 0u) << dialog.events[0];
  const std::string reply = dialog.events[0].substr(dialog.events[0].find(':') + 1);
  EXPECT_EQ(JsonField(reply, "width"), "320") << reply;
  EXPECT_EQ(JsonField(reply, "height"), "240") << reply;
  EXPECT_EQ(JsonField(reply, "companyId"), "12") << reply;
  EXPECT_EQ(JsonField(reply, "visitorId"), "34") << reply;
  const std::string url = JsonField(reply, "url");
  ASSERT_EQ(url.rfind("\"/uploads/", 0), 0u) << reply;
  const std::string storedName = url.substr(10, url.size() - 11);

  // The one image the service stored is the JPEG named in the reply.
  std::vector<fs::path> stored;
  for (const auto& entry : fs::directory_iterator(fs::path(images))) stored.push_back(entry.path());
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].filename().string(), storedName);
  const std::string bytes = parlex::test::TempDir::Read(stored[0]);
  EXPECT_EQ(bytes.substr(0, 3), std::string("\xFF\xD8\xFF"));
  const std::optional<PixelBuffer> image = parlex::test::DecodeImage(bytes);
  ASSERT_TRUE(image);
  ASSERT_EQ(image->Width(), kSelection.right - kSelection.left);
  ASSERT_EQ(image->Height(), kSelection.bottom - kSelection.top);

  // Red on the shapes (JPEG keeps a thin line only roughly), none on the
  // hollow of the rectangle, the pattern's own colours away from the marks.
  auto redAround = [&](int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (parlex::test::Reddish(image->At(x + dx - kSelection.left, y + dy - kSelection.top))) return true;
    return false;
  };
  EXPECT_TRUE(redAround(160, 120)) << "arrow shaft";
  EXPECT_TRUE(redAround(215, 120)) << "arrow head";
  EXPECT_TRUE(redAround(250, 160)) << "rectangle, left side";
  EXPECT_TRUE(redAround(320, 130)) << "rectangle, top side";
  EXPECT_FALSE(redAround(320, 165)) << "inside the rectangle";
  int text = 0;
  for (int y = kTextAt.y; y < kTextAt.y + 30; ++y)
    for (int x = kTextAt.x; x < kTextAt.x + 60; ++x)
      text += parlex::test::Reddish(image->At(x - kSelection.left, y - kSelection.top));
  EXPECT_GT(text, 5) << "the typed text";
  for (Point p : {Point{110, 310}, Point{410, 330}, Point{300, 290}, Point{170, 180}}) {
    EXPECT_TRUE(parlex::test::Near(image->At(p.x - kSelection.left, p.y - kSelection.top),
                                   PatternWindow::At(p.x, p.y), 40))
        << p.x << "," << p.y;
  }
  // The temporary file of the upload is gone, nothing was kept.
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

}  // namespace
}  // namespace parlex::app::win32::testing
