// Whole captures on Windows (under Wine): a known pattern on the screen, the
// capture window run modally with posted input (a drag, an arrow, a
// rectangle, a text), then save, send or Esc; the results are checked as
// pixels of the snapshot, decoded JPEG files and bytes on the wire.
#include "capture/win32/screen_view_win32.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/dib_image.h"
#include "capture/win32/capture_files_win32.h"
#include "capture/win32/dib_section_win32.h"
#include "capture/win32/image_encoder_win32.h"
#include "capture_harness_win32.h"
#include "common/text.h"
#include "platform/win32/app_module.h"
#include "platform/win32/wide_text.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace parlex::win32 {
namespace {

using test::InputScript;
using test::PatternWindow;

// The files of the real program, with the temporary and pictures folders of
// the test.
class TestFiles : public CaptureFilesWin32 {
 public:
  std::u16string temp;
  std::u16string pictures;
  std::u16string TempDirectory() override { return temp; }
  std::u16string PicturesDirectory() override { return pictures; }
};

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> out;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) out.push_back(entry.path());
  return out;
}

class ScreenViewWin32Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::CoInitialize(nullptr);
    g_module.Init(::GetModuleHandleW(nullptr));
  }
  static void TearDownTestSuite() {
    g_module.Term();
    ::CoUninitialize();
  }
  void SetUp() override {
    ASSERT_TRUE(dir_.Ok());
    files_.temp = dir_.Text();
    files_.pictures = dir_.Text();
    dialog_.SetFiles(&files_);
    // The real pointer rests away from everything the test does.
    ::SetCursorPos(5, ::GetSystemMetrics(SM_CYSCREEN) - 5);
  }

  HWND Capture() const { return view_.GetHwnd(); }
  bool ButtonShown(int id) const { return ::IsWindowVisible(::GetDlgItem(Capture(), id)) != FALSE; }

  // The steps up to a placed selection with its toolbar.
  std::vector<InputScript::Step> Select(Rect s) {
    return {
        InputScript::WaitFor([this] { return Capture() && ::IsWindowVisible(Capture()); }),
        InputScript::Pause(3),
        InputScript::Do([this, s] {
          test::PostPress(Capture(), s.left, s.top);
          test::PostMove(Capture(), (s.left + s.right) / 2, (s.top + s.bottom) / 2);
          test::PostMove(Capture(), s.right, s.bottom);
          test::PostRelease(Capture(), s.right, s.bottom);
        }),
        InputScript::WaitFor([this] { return ButtonShown(kBtnSend); }),
    };
  }
  std::vector<InputScript::Step> Drag(int tool, Point from, Point to) {
    return {
        InputScript::Do([this, tool] { test::PostClick(Capture(), tool); }),
        InputScript::WaitFor([this, tool] { return view_.IsButtonChecked(tool); }),
        InputScript::Do([this, from, to] {
          test::PostPress(Capture(), from.x, from.y);
          test::PostMove(Capture(), (from.x + to.x) / 2, (from.y + to.y) / 2);
          test::PostMove(Capture(), to.x, to.y);
          test::PostRelease(Capture(), to.x, to.y);
        }),
        InputScript::Pause(3),
    };
  }
  std::vector<InputScript::Step> Type(Point at, std::u16string text) {
    return {
        InputScript::Do([this] { test::PostClick(Capture(), kBtnText); }),
        InputScript::WaitFor([this] { return view_.IsButtonChecked(kBtnText); }),
        InputScript::Do([this, at] {
          test::PostPress(Capture(), at.x, at.y);
          test::PostRelease(Capture(), at.x, at.y);
        }),
        InputScript::WaitFor([this] { return view_.EditorWindow() != nullptr; }),
        InputScript::Do([this, text] { test::PostText(view_.EditorWindow(), text); }),
        InputScript::Pause(5),
    };
  }

  // Runs the capture with the script; the modal result.
  int Run(std::vector<std::vector<InputScript::Step>> parts) {
    std::vector<InputScript::Step> steps;
    for (auto& part : parts) steps.insert(steps.end(), part.begin(), part.end());
    InputScript script(std::move(steps), [this] {
      if (HWND save = test::FindSaveDialog()) ::PostMessageW(save, WM_COMMAND, IDCANCEL, 0);
      ::PostMessageW(Capture(), WM_COMMAND, IDCANCEL, 0);
    });
    const int result = view_.RunModal(nullptr);
    EXPECT_FALSE(script.TimedOut()) << "stuck at step " << script.StepReached();
    EXPECT_TRUE(script.Done()) << "ended at step " << script.StepReached();
    return result;
  }

  test::TempDir dir_{"capture-win32"};
  TestFiles files_;
  CScreenDlg dialog_{12, 34};
  ScreenViewWin32 view_{dialog_};
};

// The selection of the annotation test and the shapes in it (screen pixels).
constexpr Rect kSelection{100, 100, 420, 340};
constexpr Point kArrowFrom{120, 120};
constexpr Point kArrowTo{220, 120};
constexpr Rect kRectShape{250, 130, 400, 200};
constexpr Point kTextAt{130, 260};
// Where the annotations may have changed pixels.
constexpr Rect kArrowArea{114, 112, 226, 128};
constexpr Rect kRectArea{246, 126, 404, 204};
constexpr Rect kTextArea{126, 256, 240, 300};

bool InAnnotation(int x, int y, int margin = 0) {
  const Point p{x, y};
  return PtInRect(Inflated(kArrowArea, margin, margin), p) ||
         PtInRect(Inflated(kRectArea, margin, margin), p) || PtInRect(Inflated(kTextArea, margin, margin), p);
}

TEST_F(ScreenViewWin32Test, SavesTheMarkedSelectionAsJpeg) {
  PatternWindow pattern;
  Rect editorRect{};
  std::optional<PixelBuffer> onScreen;
  const std::u16string chosen = dir_.Text() + u"marked";  // the dialog adds ".jpg"
  const int result =
      Run({Select(kSelection),
           Drag(kBtnArrow, kArrowFrom, kArrowTo),
           Drag(kBtnRectangle, {kRectShape.left, kRectShape.top}, {kRectShape.right, kRectShape.bottom}),
           Type(kTextAt, u"HI"),
           {InputScript::Do([&] {
              editorRect = view_.EditorRect();
              onScreen = GrabScreen(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
            }),
            InputScript::Do([this] { test::PostClick(Capture(), kBtnSave); }),
            InputScript::WaitFor([] { return test::FindSaveDialog() != nullptr; }),
            InputScript::Do([chosen] { test::AnswerSaveDialog(test::FindSaveDialog(), chosen); })}});
  EXPECT_EQ(result, kCaptureDone);
  EXPECT_FALSE(dialog_.m_bSent);
  EXPECT_EQ(dialog_.m_rcSelection, kSelection);
  EXPECT_TRUE(dialog_.m_bAnnotated);

  // The open editor: grown to its text, red on white, in a grey
  // dash-dot-dot frame one pixel outside it.
  ASSERT_TRUE(onScreen);
  EXPECT_EQ(editorRect.left, kTextAt.x);
  EXPECT_EQ(editorRect.top, kTextAt.y);
  EXPECT_GT(editorRect.right - editorRect.left, 10);
  int grey = 0, red = 0, paper = 0;
  for (int x = editorRect.left - 1; x <= editorRect.right; ++x)
    grey += onScreen->At(x, editorRect.top - 1) == Rgb(127, 127, 127);
  for (int y = editorRect.top; y < editorRect.bottom; ++y) {
    for (int x = editorRect.left; x < editorRect.right; ++x) {
      // Red text smoothed on white (full red, equal green and blue), or the
      // black caret.
      const Color c = onScreen->At(x, y);
      red += c == Rgb(255, 0, 0);
      paper += (RedOf(c) == 255 && GreenOf(c) == BlueOf(c)) || c == 0;
    }
  }
  EXPECT_GT(grey, (editorRect.right - editorRect.left) / 3);
  EXPECT_GT(red, 10);
  EXPECT_EQ(paper, (editorRect.right - editorRect.left) * (editorRect.bottom - editorRect.top));

  // The snapshot holds the screen's own pixels, exactly, and the red shapes.
  const PixelBuffer& snap = dialog_.Snapshot();
  ASSERT_EQ(snap.Width(), ::GetSystemMetrics(SM_CXSCREEN));
  ASSERT_EQ(snap.Height(), ::GetSystemMetrics(SM_CYSCREEN));
  int exact = 0, checked = 0;
  for (int y = 0; y < snap.Height(); y += 13) {
    for (int x = 0; x < snap.Width(); x += 11) {
      if (InAnnotation(x, y)) continue;
      ++checked;
      exact += snap.At(x, y) == PatternWindow::At(x, y);
    }
  }
  EXPECT_EQ(exact, checked);
  EXPECT_EQ(snap.At(160, 120), Rgb(255, 0, 0));               // the arrow's shaft
  EXPECT_EQ(snap.At(215, 120), Rgb(255, 0, 0));               // inside its head
  EXPECT_EQ(snap.At(250, 160), Rgb(255, 0, 0));               // the rectangle's left edge
  EXPECT_EQ(snap.At(320, 130), Rgb(255, 0, 0));               // its top edge
  EXPECT_EQ(snap.At(320, 160), PatternWindow::At(320, 160));  // hollow
  int textRed = 0;
  for (int y = kTextArea.top; y < kTextArea.bottom; ++y)
    for (int x = kTextArea.left; x < kTextArea.right; ++x) textRed += snap.At(x, y) == Rgb(255, 0, 0);
  EXPECT_GT(textRed, 10) << "the typed text is in the snapshot";
  // White pixels of the editor stayed transparent.
  EXPECT_EQ(snap.At(kTextAt.x + 1, kTextAt.y + 1) == Rgb(255, 255, 255), false);

  // The file: a JPEG of the selection's size with the same picture.
  const std::filesystem::path file = dir_.File("marked.jpg");
  const std::string bytes = test::TempDir::Read(file);
  ASSERT_FALSE(bytes.empty()) << "no file written";
  EXPECT_EQ(bytes.substr(0, 3), std::string("\xFF\xD8\xFF"));
  const std::optional<PixelBuffer> image = test::DecodeImage(bytes);
  ASSERT_TRUE(image);
  ASSERT_EQ(image->Width(), kSelection.right - kSelection.left);
  ASSERT_EQ(image->Height(), kSelection.bottom - kSelection.top);
  int close = 0, samples = 0;
  for (int y = kSelection.top; y < kSelection.bottom; y += 3) {
    for (int x = kSelection.left; x < kSelection.right; x += 3) {
      // JPEG's 8 x 8 blocks carry a red line's ringing a few pixels on.
      if (InAnnotation(x, y, 8) || !PatternWindow::InsideCell(x, y, 4)) continue;
      ++samples;
      close += test::Near(image->At(x - kSelection.left, y - kSelection.top), PatternWindow::At(x, y), 40);
    }
  }
  EXPECT_GT(samples, 1000);
  EXPECT_EQ(close, samples);
  auto redAround = [&](int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (test::Reddish(image->At(x + dx - kSelection.left, y + dy - kSelection.top))) return true;
    return false;
  };
  EXPECT_TRUE(redAround(160, 120));
  EXPECT_TRUE(redAround(215, 120));
  EXPECT_TRUE(redAround(250, 160));
  EXPECT_TRUE(redAround(320, 130));
  EXPECT_FALSE(redAround(320, 165));
  // Nothing else was written: no temporary file, no kept capture.
  EXPECT_EQ(FilesIn(dir_.Path()).size(), 1u);
}

TEST_F(ScreenViewWin32Test, SendUploadsTheSelectionWithBothIdentifiers) {
  PatternWindow pattern;
  test::LoopbackServer server(test::ScriptedReply::Text("{\"url\":\"/img/7.jpg\"}"));
  ASSERT_TRUE(server.Start());
  dialog_.SetUploadUrl(server.Url(u"/resource/staff/image"));
  dialog_.SetHttpSeams(PlatformHttpSeams());
  const Rect selection{200, 150, 360, 270};
  const int result = Run({Select(selection),
                          Drag(kBtnEllipse, {220, 170}, {300, 240}),
                          {InputScript::Do([this] { test::PostClick(Capture(), kBtnSend); })}});
  EXPECT_EQ(result, kCaptureDone);
  EXPECT_TRUE(dialog_.m_bSent);
  EXPECT_EQ(dialog_.m_szReply, u"{\"url\":\"/img/7.jpg\"}");

  const std::string request = server.Received(0);
  EXPECT_EQ(request.rfind("POST /resource/staff/image HTTP/1.0\r\n", 0), 0u) << request.substr(0, 200);
  EXPECT_NE(request.find("User-Agent: OstrelAgent\r\n"), std::string::npos);
  EXPECT_EQ(test::MultipartPart(request, "companyId"), "12");
  EXPECT_EQ(test::MultipartPart(request, "visitorId"), "34");
  const std::optional<PixelBuffer> image = test::DecodeImage(test::MultipartPart(request, "upload"));
  ASSERT_TRUE(image) << "no JPEG in the upload part";
  EXPECT_EQ(image->Width(), 160);
  EXPECT_EQ(image->Height(), 120);
  EXPECT_TRUE(test::Near(image->At(5, 5), PatternWindow::At(205, 155), 24));
  // The temporary file is gone again.
  EXPECT_TRUE(FilesIn(dir_.Path()).empty());
}

TEST_F(ScreenViewWin32Test, AnUnreachableServerGivesTheEmptyReplyAndKeepsTheCapture) {
  PatternWindow pattern;
  const uint16_t port = test::ClosedLoopbackPort();
  ASSERT_NE(port, 0);
  dialog_.SetUploadUrl(u"http://127.0.0.1:" + FromUtf8(std::to_string(port)) + u"/resource/staff/image");
  dialog_.SetHttpSeams(PlatformHttpSeams());
  const Rect selection{300, 300, 380, 350};
  const int result =
      Run({Select(selection), {InputScript::Do([this] { test::PostClick(Capture(), kBtnSend); })}});
  EXPECT_EQ(result, kCaptureDone);
  EXPECT_TRUE(dialog_.m_bSent);
  EXPECT_TRUE(dialog_.m_szReply.empty());

  const std::vector<std::filesystem::path> files = FilesIn(dir_.Path());
  ASSERT_EQ(files.size(), 1u);
  const std::u8string name = files[0].filename().u8string();
  const std::string utf8(name.begin(), name.end());
  EXPECT_EQ(utf8.rfind("Ostrel截屏未发送 ", 0), 0u) << utf8;
  EXPECT_EQ(utf8.substr(utf8.size() - 4), ".jpg");
  EXPECT_EQ(dialog_.m_szKeptFile, dir_.Text() + FromUtf8(utf8));
  const std::optional<PixelBuffer> image = test::DecodeImage(test::TempDir::Read(files[0]));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Width(), 80);
  EXPECT_EQ(image->Height(), 50);
}

TEST_F(ScreenViewWin32Test, EscapeEndsTheCaptureWithoutAnything) {
  test::LoopbackServer server(test::ScriptedReply::Text("never"));
  ASSERT_TRUE(server.Start());
  dialog_.SetUploadUrl(server.Url(u"/resource/staff/image"));
  dialog_.SetHttpSeams(PlatformHttpSeams());
  const int result =
      Run({Select(Rect{50, 60, 250, 200}),
           {InputScript::Do([this] { ::PostMessageW(Capture(), WM_KEYDOWN, VK_ESCAPE, 1); })}});
  EXPECT_EQ(result, kCaptureCancelled);
  EXPECT_FALSE(dialog_.m_bSent);
  EXPECT_TRUE(dialog_.m_szReply.empty());
  EXPECT_EQ(server.Connections(), 0u);
  EXPECT_TRUE(FilesIn(dir_.Path()).empty());
}

// A server that takes the picture and then answers one byte every 400 ms:
// every byte would restart a bound of each read. The whole upload is
// bounded from the click, and Esc cancels it; either way the capture is
// kept and the page will get "".
TEST_F(ScreenViewWin32Test, ASlowServerLeavesTheScreenWithinTheBoundAndEscCancels) {
  for (const bool esc : {false, true}) {
    SCOPED_TRACE(esc ? "Esc" : "bound");
    test::TempDir dir("capture-slow");
    ASSERT_TRUE(dir.Ok());
    TestFiles files;
    files.temp = files.pictures = dir.Text();
    CScreenDlg dialog(12, 34);
    dialog.SetFiles(&files);
    ScreenViewWin32 view(dialog);
    test::ScriptedReply drip = test::ScriptedReply::Text(std::string(100, 'x'));
    drip.dripMs = 400;
    test::LoopbackServer server(drip);
    ASSERT_TRUE(server.Start());
    dialog.SetUploadUrl(server.Url(u"/resource/staff/image"));
    dialog.SetHttpSeams(PlatformHttpSeams());
    dialog.SetUploadBound(std::chrono::milliseconds(esc ? 60000 : 2500));
    std::u16string note;
    DWORD clicked = 0;
    HWND window = nullptr;
    std::vector<InputScript::Step> steps{
        InputScript::WaitFor([&] { return (window = view.GetHwnd()) && ::IsWindowVisible(window); }),
        InputScript::Pause(3),
        InputScript::Do([&] {
          test::PostPress(window, 100, 100);
          test::PostMove(window, 300, 250);
          test::PostRelease(window, 300, 250);
        }),
        InputScript::WaitFor([&] { return ::IsWindowVisible(::GetDlgItem(window, kBtnSend)) != FALSE; }),
        InputScript::Do([&] {
          clicked = ::GetTickCount();
          test::PostClick(window, kBtnSend);
        }),
        InputScript::WaitFor([&] { return view.StatusWindow() && ::IsWindowVisible(view.StatusWindow()); }),
        InputScript::Pause(10),
        InputScript::Do([&] {
          wchar_t text[64] = {};
          ::GetWindowTextW(view.StatusWindow(), text, 64);
          note = FromWide(text);
          EXPECT_TRUE(dialog.IsSending());
          EXPECT_TRUE(::IsWindowVisible(window));
          if (esc) ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1);
        }),
    };
    InputScript script(
        std::move(steps), [&] { dialog.OnCancel(); }, 30000);
    EXPECT_EQ(view.RunModal(nullptr), kCaptureDone);
    const DWORD took = ::GetTickCount() - clicked;
    EXPECT_TRUE(script.Done()) << "ended at step " << script.StepReached();
    EXPECT_EQ(note, u"正在发送…");
    EXPECT_LT(took, esc ? 3000u : 5500u);
    if (!esc) {
      EXPECT_GE(took, 2300u);
    }
    EXPECT_TRUE(dialog.m_bSent);
    EXPECT_TRUE(dialog.m_szReply.empty());
    const std::vector<std::filesystem::path> kept = FilesIn(dir.Path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(dialog.m_szKeptFile, kept[0].u16string());
    const std::optional<PixelBuffer> image = test::DecodeImage(test::TempDir::Read(kept[0]));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width(), 200);
    EXPECT_EQ(image->Height(), 150);
  }
}

// The capture ended while the left button is still held, in each kind of
// drag: Esc, or the window closed. Everything the drag held is given back
// before the view goes, and nothing is sent.
TEST_F(ScreenViewWin32Test, EndingTheCaptureInTheMiddleOfADragLetsEverythingGo) {
  struct Case {
    const char* name;
    int tool;       // 0: none
    bool selected;  // a selection is placed first
    Point from, to;
    bool close;  // WM_CLOSE instead of Esc
  };
  const Case cases[] = {
      {"selecting", 0, false, {100, 100}, {250, 200}, false},
      {"move", 0, true, {200, 150}, {240, 190}, true},
      {"resize", 0, true, {300, 250}, {340, 280}, true},
      {"shape", kBtnRectangle, true, {150, 120}, {250, 220}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::LoopbackServer server(test::ScriptedReply::Text("never"));
    ASSERT_TRUE(server.Start());
    TestFiles files;
    files.temp = files.pictures = dir_.Text();
    auto dialog = std::make_unique<CScreenDlg>(12, 34);
    dialog->SetFiles(&files);
    dialog->SetUploadUrl(server.Url(u"/resource/staff/image"));
    dialog->SetHttpSeams(PlatformHttpSeams());
    auto view = std::make_unique<ScreenViewWin32>(*dialog);
    HWND window = nullptr;
    std::vector<InputScript::Step> steps{
        InputScript::WaitFor([&] { return (window = view->GetHwnd()) && ::IsWindowVisible(window); }),
        InputScript::Pause(3),
    };
    if (c.selected) {
      steps.push_back(InputScript::Do([&] {
        test::PostPress(window, 100, 100);
        test::PostMove(window, 300, 250);
        test::PostRelease(window, 300, 250);
      }));
      steps.push_back(
          InputScript::WaitFor([&] { return ::IsWindowVisible(::GetDlgItem(window, kBtnSend)) != FALSE; }));
      if (c.tool) {
        steps.push_back(InputScript::Do([&] { test::PostClick(window, c.tool); }));
        steps.push_back(InputScript::WaitFor([&] { return view->IsButtonChecked(c.tool); }));
      }
    }
    steps.push_back(InputScript::Do([&] {
      test::PostPress(window, c.from.x, c.from.y);
      test::PostMove(window, (c.from.x + c.to.x) / 2, (c.from.y + c.to.y) / 2);
      test::PostMove(window, c.to.x, c.to.y);
    }));
    steps.push_back(InputScript::Pause(3));
    steps.push_back(InputScript::Do([&] {
      EXPECT_EQ(::GetCapture(), window) << "the drag does not hold the mouse";
      if (c.close) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
      } else {
        ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1);
      }
    }));
    InputScript script(std::move(steps), [&] { ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_EQ(view->RunModal(nullptr), kCaptureCancelled);
    EXPECT_TRUE(script.Done()) << "ended at step " << script.StepReached();
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_FALSE(dialog->m_bSent);
    EXPECT_FALSE(dialog->m_bSelecting);
    EXPECT_FALSE(dialog->m_bDrawing);
    // As the capture call does: the view goes first, then the dialog.
    view.reset();
    dialog.reset();
    EXPECT_EQ(server.Connections(), 0u);
  }
}

Color Dimmed(Color c) { return Rgb(DimChannel(RedOf(c)), DimChannel(GreenOf(c)), DimChannel(BlueOf(c))); }

TEST_F(ScreenViewWin32Test, TheScreenShowsTheDimmedSnapshotAndTheSelectionWithItsToolbar) {
  PatternWindow pattern;
  std::optional<PixelBuffer> before, after;
  std::vector<RECT> cells;
  const Rect selection{500, 300, 800, 500};
  std::vector<InputScript::Step> steps = {
      InputScript::WaitFor([this] { return Capture() && ::IsWindowVisible(Capture()); }),
      InputScript::Pause(5),
      InputScript::Do(
          [&] { before = GrabScreen(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)); }),
  };
  for (auto& step : Select(selection)) steps.push_back(step);
  steps.push_back(InputScript::Pause(5));
  steps.push_back(InputScript::Do([&] {
    after = GrabScreen(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
    for (int id : kToolbarButtons) {
      RECT r{};
      ::GetWindowRect(::GetDlgItem(Capture(), id), &r);
      cells.push_back(r);
    }
    ::PostMessageW(Capture(), WM_KEYDOWN, VK_ESCAPE, 1);
  }));
  EXPECT_EQ(Run({steps}), kCaptureCancelled);
  ASSERT_TRUE(before);
  ASSERT_TRUE(after);

  // Before the first press the whole screen is dimmed, exactly as the blend
  // of grey 127 at opacity 127 gives it.
  int dim = 0, samples = 0;
  for (int y = 3; y < before->Height(); y += 17) {
    for (int x = 3; x < before->Width(); x += 19) {
      ++samples;
      dim += before->At(x, y) == Dimmed(PatternWindow::At(x, y));
    }
  }
  EXPECT_EQ(dim, samples);

  // Afterwards: the selection undimmed, the rest dimmed, the toolbar below
  // the selection ending at its right edge.
  const Rect toolbar{300, 505, 800, 535};
  int inside = 0, insideOk = 0, outside = 0, outsideOk = 0;
  for (int y = 3; y < after->Height(); y += 7) {
    for (int x = 3; x < after->Width(); x += 7) {
      const Point p{x, y};
      if (PtInRect(Inflated(selection, -8, -8), p)) {
        ++inside;
        insideOk += after->At(x, y) == PatternWindow::At(x, y);
      } else if (!PtInRect(Inflated(selection, 8, 8), p) && !PtInRect(toolbar, p)) {
        ++outside;
        outsideOk += after->At(x, y) == Dimmed(PatternWindow::At(x, y));
      }
    }
  }
  EXPECT_GT(inside, 1000);
  EXPECT_EQ(insideOk, inside);
  EXPECT_EQ(outsideOk, outside);
  ASSERT_EQ(cells.size(), 10u);
  for (size_t i = 0; i < cells.size(); ++i) {
    const LONG left = 300 + static_cast<LONG>(i) * 50;
    EXPECT_EQ(cells[i].left, left);
    EXPECT_EQ(cells[i].top, 505);
    EXPECT_EQ(cells[i].right, left + 50);
    EXPECT_EQ(cells[i].bottom, 535);
  }
}

// The system DPI of the processes started from now on: the registry value
// Wine reads at a process's start, put back as it was at the end.
class ScopedSystemDpi {
 public:
  explicit ScopedSystemDpi(DWORD dpi) {
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE,
                          nullptr, &key_, nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    DWORD size = sizeof(old_);
    had_ = ::RegQueryValueExW(key_, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old_), &size) ==
           ERROR_SUCCESS;
    ok_ = ::RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                           sizeof(dpi)) == ERROR_SUCCESS;
  }
  ~ScopedSystemDpi() {
    if (!key_) return;
    if (had_) {
      ::RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_), sizeof(old_));
    } else {
      ::RegDeleteValueW(key_, L"LogPixels");
    }
    ::RegCloseKey(key_);
  }
  bool Ok() const { return ok_; }

 private:
  HKEY key_ = nullptr;
  DWORD old_ = 0;
  bool had_ = false;
  bool ok_ = false;
};

// This test program again, running one test with the given environment
// additions; its exit code, or -1 when it did not end within a minute.
int RunSelf(const std::wstring& filter, const std::vector<std::wstring>& environment) {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring commandLine =
      L"\"" + std::wstring(exe) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + filter;
  for (const std::wstring& entry : environment) {
    const size_t eq = entry.find(L'=');
    ::SetEnvironmentVariableW(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str());
  }
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  const BOOL started =
      ::CreateProcessW(exe, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  for (const std::wstring& entry : environment) {
    ::SetEnvironmentVariableW(entry.substr(0, entry.find(L'=')).c_str(), nullptr);
  }
  if (!started) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (::WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(pi.hProcess, &code);
  } else {
    ::TerminateProcess(pi.hProcess, 1);
  }
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

int EnvNumber(const char* name) {
  const char* text = std::getenv(name);
  return text ? std::atoi(text) : 0;
}

// Run by the test below in a process of its own, at a scaled system DPI: the
// capture still sees device pixels, and a lossless save of the selection
// holds the screen's pixels exactly.
TEST_F(ScreenViewWin32Test, DISABLED_SavesDevicePixelsAtTheSystemDpi) {
  const int expectedDpi = EnvNumber("PARLEX_TEST_DPI");
  ASSERT_GT(expectedDpi, 0);
  {
    HDC screen = ::GetDC(nullptr);
    EXPECT_EQ(::GetDeviceCaps(screen, LOGPIXELSX), expectedDpi);
    ::ReleaseDC(nullptr, screen);
  }
  EXPECT_EQ(::GetSystemMetrics(SM_CXSCREEN), EnvNumber("PARLEX_TEST_CX"));
  EXPECT_EQ(::GetSystemMetrics(SM_CYSCREEN), EnvNumber("PARLEX_TEST_CY"));

  PatternWindow pattern;
  const Rect selection{333, 222, 777, 555};
  const std::u16string chosen = dir_.Text() + u"exact.png";
  std::vector<InputScript::Step> steps = Select(selection);
  steps.push_back(InputScript::Do([this] { test::PostClick(Capture(), kBtnSave); }));
  steps.push_back(InputScript::WaitFor([] { return test::FindSaveDialog() != nullptr; }));
  steps.push_back(InputScript::Do([chosen] { test::AnswerSaveDialog(test::FindSaveDialog(), chosen); }));
  EXPECT_EQ(Run({steps}), kCaptureDone);
  const std::optional<PixelBuffer> image = test::DecodeImage(test::TempDir::Read(dir_.File("exact.png")));
  ASSERT_TRUE(image);
  ASSERT_EQ(image->Width(), 444);
  ASSERT_EQ(image->Height(), 333);
  int exact = 0;
  for (int y = 0; y < image->Height(); ++y)
    for (int x = 0; x < image->Width(); ++x)
      exact += image->At(x, y) == PatternWindow::At(selection.left + x, selection.top + y);
  EXPECT_EQ(exact, 444 * 333);
}

TEST(ScaledDisplayTest, TheCaptureHoldsDevicePixelsAt120And192Dpi) {
  const std::wstring cx = std::to_wstring(::GetSystemMetrics(SM_CXSCREEN));
  const std::wstring cy = std::to_wstring(::GetSystemMetrics(SM_CYSCREEN));
  for (DWORD dpi : {120u, 192u}) {
    ScopedSystemDpi scaled(dpi);
    ASSERT_TRUE(scaled.Ok());
    EXPECT_EQ(RunSelf(L"ScreenViewWin32Test.DISABLED_SavesDevicePixelsAtTheSystemDpi",
                      {L"PARLEX_TEST_DPI=" + std::to_wstring(dpi), L"PARLEX_TEST_CX=" + cx,
                       L"PARLEX_TEST_CY=" + cy}),
              0)
        << "at " << dpi << " DPI";
  }
}

TEST(CaptureFilesWin32Test, FoldersAndPrivateFiles) {
  CaptureFilesWin32 files;
  const std::u16string temp = files.TempDirectory();
  ASSERT_GE(temp.size(), 3u);
  EXPECT_EQ(temp[1], u':');
  EXPECT_EQ(temp.back(), u'\\');
  EXPECT_FALSE(files.PicturesDirectory().empty());

  test::TempDir dir("capture-files");
  ASSERT_TRUE(dir.Ok());
  // A read-only file left at the name is replaced by a new one.
  const std::filesystem::path left = dir.Write("ostrelscreenshottmp.jpg", "left behind");
  ASSERT_TRUE(::SetFileAttributesW(left.wstring().c_str(), FILE_ATTRIBUTE_READONLY));
  const std::u16string path = dir.Text() + u"ostrelscreenshottmp.jpg";
  EXPECT_TRUE(files.WritePrivateFile(path, "fresh"));
  EXPECT_EQ(test::TempDir::Read(left), "fresh");
  EXPECT_EQ(::GetFileAttributesW(left.wstring().c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  // A move never replaces what is there.
  dir.Write("taken.jpg", "taken");
  EXPECT_FALSE(files.MoveFile(path, dir.Text() + u"taken.jpg"));
  EXPECT_EQ(test::TempDir::Read(dir.File("taken.jpg")), "taken");
  EXPECT_TRUE(files.MoveFile(path, dir.Text() + u"kept.jpg"));
  EXPECT_FALSE(files.FileExists(path));
  EXPECT_TRUE(files.FileExists(dir.Text() + u"kept.jpg"));
  files.RemoveFile(dir.Text() + u"kept.jpg");
  EXPECT_FALSE(files.FileExists(dir.Text() + u"kept.jpg"));

  const LocalTime now = files.Now();
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
}

TEST(ImageEncoderWin32Test, JpegAndPngEncodeTheirPixels) {
  const std::vector<ImageEncoderInfo> encoders = ListImageEncoders();
  ASSERT_FALSE(encoders.empty());
  PixelBuffer image(64, 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) image.Set(x, y, x < 32 ? Rgb(200, 40, 40) : Rgb(40, 60, 200));
  const std::optional<size_t> jpeg = ChooseEncoder(u"a.JPG", encoders);
  const std::optional<size_t> png = ChooseEncoder(u"a.png", encoders);
  ASSERT_TRUE(jpeg);
  ASSERT_TRUE(png);
  for (size_t index : {*jpeg, *png}) {
    const std::optional<std::string> bytes = EncodeWithEncoder(index, image);
    ASSERT_TRUE(bytes);
    const std::optional<PixelBuffer> back = test::DecodeImage(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Width(), 64);
    EXPECT_EQ(back->Height(), 48);
    EXPECT_TRUE(test::Near(back->At(8, 8), Rgb(200, 40, 40), index == *png ? 0 : 12));
    EXPECT_TRUE(test::Near(back->At(56, 40), Rgb(40, 60, 200), index == *png ? 0 : 12));
  }
  EXPECT_EQ(std::string_view(*EncodeWithEncoder(*png, image)).substr(1, 3), "PNG");
}

// The clipboard's CF_DIB as bytes; empty when there is none.
std::string ClipboardDib() {
  std::string out;
  if (!::OpenClipboard(nullptr)) return out;
  if (HANDLE data = ::GetClipboardData(CF_DIB)) {
    if (const void* bytes = ::GlobalLock(data)) {
      out.assign(static_cast<const char*>(bytes), ::GlobalSize(data));
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return out;
}

TEST_F(ScreenViewWin32Test, MosaicPenUndoThenCopyLeavesTheMarkedSelectionOnTheClipboard) {
  PatternWindow pattern;
  std::optional<PixelBuffer> afterMosaic, afterPen;
  RECT window{};
  // Blocks from (125, 125) straddle the pattern's cell edges at x, y = 160.
  const int result = Run({Select(kSelection),
                          Drag(kBtnMosaic, {125, 125}, {235, 215}),
                          {InputScript::Do([&] { afterMosaic = dialog_.Snapshot(); })},
                          Drag(kBtnPen, {250, 150}, {380, 300}),
                          {InputScript::Do([&] {
                             afterPen = dialog_.Snapshot();
                             ::GetWindowRect(Capture(), &window);
                             test::PostClick(Capture(), kBtnUndo);
                           }),
                           InputScript::WaitFor([&] { return dialog_.Snapshot() == *afterMosaic; }),
                           InputScript::Do([this] { test::PostClick(Capture(), kBtnCopy); })}});
  EXPECT_EQ(result, kCaptureDone);
  EXPECT_FALSE(dialog_.m_bSent);
  // The window and the picture cover the virtual desktop.
  EXPECT_EQ(window.left, ::GetSystemMetrics(SM_XVIRTUALSCREEN));
  EXPECT_EQ(window.right - window.left, ::GetSystemMetrics(SM_CXVIRTUALSCREEN));
  EXPECT_EQ(dialog_.Snapshot().Width(), ::GetSystemMetrics(SM_CXVIRTUALSCREEN));
  ASSERT_TRUE(afterMosaic && afterPen);
  EXPECT_NE(afterMosaic->At(157, 157), PatternWindow::At(157, 157));
  EXPECT_EQ(afterPen->At(250, 150), Rgb(255, 0, 0));
  EXPECT_EQ(dialog_.Snapshot(), *afterMosaic);

  // The clipboard holds the selection with the mosaic and without the pen,
  // pixel for pixel, after the window has gone.
  const std::string dib = ClipboardDib();
  ASSERT_GE(dib.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header{};
  std::memcpy(&header, dib.data(), sizeof header);
  EXPECT_EQ(header.biWidth, kSelection.right - kSelection.left);
  EXPECT_EQ(header.biHeight, kSelection.bottom - kSelection.top);
  const std::string want = PackedDib(dialog_.SelectionPixels());
  ASSERT_GE(dib.size(), want.size());
  EXPECT_EQ(dib.substr(0, want.size()), want);
}

TEST_F(ScreenViewWin32Test, TheWholeVirtualDesktopIsCapturedAndTheToolbarStaysOnIt) {
  const int vx = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int vy = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int vw = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int vh = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const std::optional<PixelBuffer> before = GrabScreen(vx, vy, vw, vh);
  ASSERT_TRUE(before);
  // At the desktop's right edge: right of x = 1920 wherever the desktop is
  // wider than one such screen.
  const Rect s{vw - 330, 100, vw - 10, 340};
  RECT send{};
  const int result = Run({Select(s), {InputScript::Do([&] {
                            ::GetWindowRect(::GetDlgItem(Capture(), kBtnSend), &send);
                            ::PostMessageW(Capture(), WM_COMMAND, IDCANCEL, 0);
                          })}});
  EXPECT_EQ(result, kCaptureCancelled);
  EXPECT_EQ(dialog_.m_rcSelection, s);
  if (vw > 1920 + 330) {
    EXPECT_GT(dialog_.m_rcSelection.left, 1920);
  }
  const PixelBuffer& snap = dialog_.Snapshot();
  ASSERT_EQ(snap.Width(), vw);
  ASSERT_EQ(snap.Height(), vh);
  for (int x = s.left; x < s.right; x += 7) EXPECT_EQ(snap.At(x, 200), before->At(x, 200)) << x;
  // The row ends at the selection's right edge, inside the desktop.
  EXPECT_EQ(send.right - vx, s.right);
  EXPECT_EQ(send.top - vy, s.bottom + 5);
}

}  // namespace
}  // namespace parlex::win32
