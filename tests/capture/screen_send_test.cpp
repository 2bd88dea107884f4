// Save and send end to end: a capture made through the fake window, written
// to a private folder or uploaded to the loopback server over the platform's
// transport; what reaches the disk and the wire is checked byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "http/transport.h"
#include "parlex_config.h"
#include "screen_fakes.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace parlex::testing {
namespace {

using test::LoopbackServer;
using test::ScriptedReply;
using test::TempDir;

std::filesystem::path PathOf(const std::u16string& text) {
  const std::string bytes = ToUtf8(text);
  return std::filesystem::path(std::u8string(bytes.begin(), bytes.end()));
}

// The files of a capture in a private folder: "tmp/" and "pictures/".
class DiskFiles : public ICaptureFiles {
 public:
  explicit DiskFiles(const TempDir& dir) : root(dir.Text()) {
    std::filesystem::create_directory(PathOf(root + u"tmp"));
    std::filesystem::create_directory(PathOf(root + u"pictures"));
  }
  std::u16string TempDirectory() override { return noTemp ? u"" : root + u"tmp/"; }
  std::u16string PicturesDirectory() override { return root + u"pictures/"; }
  bool WriteFile(const std::u16string& path, std::string_view bytes) override {
    std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
  }
  bool WritePrivateFile(const std::u16string& path, std::string_view bytes) override {
    privateWrites.push_back(path);
    RemoveFile(path);
    return WriteFile(path, bytes);
  }
  void RemoveFile(const std::u16string& path) override {
    std::error_code ignored;
    std::filesystem::remove(PathOf(path), ignored);
  }
  bool MoveFile(const std::u16string& from, const std::u16string& to) override {
    std::error_code error;
    std::filesystem::rename(PathOf(from), PathOf(to), error);
    return !error;
  }
  bool FileExists(const std::u16string& path) override { return std::filesystem::exists(PathOf(path)); }
  LocalTime Now() override { return LocalTime{2026, 12, 7, 13, 45, 1}; }

  std::vector<std::string> Listing(const std::u16string& sub) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(PathOf(root + sub)))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::u16string root;
  bool noTemp = false;
  std::vector<std::u16string> privateWrites;
};

// A capture with an arrow, a rectangle and a text in the selection (100,
// 80)-(300, 240) of a 400 x 300 screen.
struct CaptureFixture : ScreenFixture {
  CaptureFixture() : ScreenFixture(400, 300), files(dir) {
    dlg.SetFiles(&files);
    dlg.SetHttpSeams(PlatformHttpSeams());
    Select({100, 80}, {300, 240});
    view.Check(kBtnArrow);
    Drag({120, 100}, {{200, 180}});
    view.Check(kBtnRectangle);
    Drag({150, 90}, {{280, 200}});
    view.Check(kBtnText);
    dlg.OnLButtonDown({210, 100});
    view.editorText = u"12";
    dlg.GrowTextEditor();
    view.FocusWindow();  // the send button takes the focus: the text is committed
  }
  // The selection's pixels as the fake encoder wrote them.
  std::string ExpectedImage(size_t encoder) const { return EncodeBlob(encoder, dlg.SelectionPixels()); }

  TempDir dir{"capture-send"};
  DiskFiles files;
};

TEST(ScreenSend, UploadsTheSelectionWithBothIdentifiersAndRemovesTheTemporaryFile) {
  CaptureFixture f;
  ASSERT_TRUE(f.dir.Ok());
  const PixelBuffer image = f.dlg.SelectionPixels();
  ASSERT_EQ(image.Width(), 200);
  ASSERT_EQ(image.Height(), 160);
  EXPECT_EQ(image.At(120 - 100 + 40, 100 - 80 + 40), Rgb(255, 0, 0));  // on the arrow's shaft
  EXPECT_EQ(image.At(211 - 100, 103 - 80), Rgb(255, 0, 0));            // the text's first glyph

  LoopbackServer server(ScriptedReply::Text("{\"url\":\"/img/7.jpg\"}"));
  ASSERT_TRUE(server.Start());
  f.dlg.SetUploadUrl(server.Url(u"/resource/staff/image"));
  f.dlg.OnSend();

  const std::string request = server.Received(0);
  EXPECT_EQ(request.rfind("POST /resource/staff/image HTTP/1.0\r\nUser-Agent: OstrelAgent\r\n", 0), 0u);
  const std::string body = request.substr(request.find("\r\n\r\n") + 4);
  EXPECT_EQ(
      body,
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\nContent-Disposition: form-data; name=\"companyId\"\r\n\r\n12\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\nContent-Disposition: form-data; name=\"visitorId\"\r\n\r\n34\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\nContent-Disposition: form-data; name=\"upload\"; "
      "filename=\"ostrelscreenshottmp.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n" +
          f.ExpectedImage(1) + "\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n");
  EXPECT_EQ(f.files.privateWrites,
            (std::vector<std::u16string>{f.files.root + u"tmp/ostrelscreenshottmp.jpg"}));
  EXPECT_EQ(f.dlg.m_szReply, u"{\"url\":\"/img/7.jpg\"}");
  EXPECT_TRUE(f.dlg.m_bSent);
  EXPECT_EQ(f.view.results, (std::vector<int>{kCaptureDone}));
  EXPECT_TRUE(f.files.Listing(u"tmp").empty());
  EXPECT_TRUE(f.files.Listing(u"pictures").empty());
  EXPECT_TRUE(f.dlg.m_szKeptFile.empty());
  // What the support log is told.
  EXPECT_EQ(f.dlg.m_report.outcome, CaptureReport::Outcome::kSent);
  EXPECT_EQ(f.dlg.m_report.httpStatus, 200);
  EXPECT_EQ(f.dlg.m_report.bytes, f.ExpectedImage(1).size());
}

TEST(ScreenSend, AFailedUploadKeepsTheCaptureInThePicturesFolder) {
  const uint16_t deadPort = test::ClosedLoopbackPort();
  ASSERT_NE(deadPort, 0);
  const std::string kept = "Ostrel截屏未发送 2026-12-07 134501.jpg";
  const std::string second = "Ostrel截屏未发送 2026-12-07 134501 (2).jpg";
  const std::string thirdName = "Ostrel截屏未发送 2026-12-07 134501 (3).jpg";
  {
    CaptureFixture f;
    f.dlg.SetUploadUrl(u"http://127.0.0.1:" + FormatDecimal(deadPort) + u"/resource/staff/image");
    f.dlg.OnSend();
    EXPECT_TRUE(f.dlg.m_bSent);
    EXPECT_EQ(f.dlg.m_szReply, u"");
    EXPECT_EQ(f.view.results, (std::vector<int>{kCaptureDone}));
    EXPECT_TRUE(f.files.Listing(u"tmp").empty());
    ASSERT_EQ(f.files.Listing(u"pictures"), (std::vector<std::string>{kept}));
    EXPECT_EQ(f.dlg.m_szKeptFile, f.files.root + u"pictures/" + FromUtf8(kept));
    EXPECT_EQ(TempDir::Read(PathOf(f.dlg.m_szKeptFile)), f.ExpectedImage(1));
    EXPECT_EQ(f.dlg.m_report.outcome, CaptureReport::Outcome::kNotSent);
    EXPECT_EQ(f.dlg.m_report.httpStatus, 0);
    EXPECT_EQ(f.dlg.m_report.reason.rfind(u"the request failed (error ", 0), 0u)
        << ToUtf8(f.dlg.m_report.reason);

    // Another capture over the same files, sent to `url`.
    auto sendAnother = [&f](CScreenDlg& dlg, FakeScreenView& view, const std::u16string& url) {
      view.Attach(&dlg);
      dlg.SetFiles(&f.files);
      dlg.SetHttpSeams(PlatformHttpSeams());
      dlg.OnInitDialog(f.original);
      dlg.OnLButtonDown({10, 10});
      dlg.OnMouseMove({50, 40});
      dlg.OnLButtonUp({50, 40});
      dlg.SetUploadUrl(url);
      dlg.OnSend();
    };

    // An empty reply counts as not sent; the name already taken gets " (2)".
    LoopbackServer empty(ScriptedReply::Text(""));
    ASSERT_TRUE(empty.Start());
    CScreenDlg again(12, 34);
    FakeScreenView view(400, 300);
    sendAnother(again, view, empty.Url(u"/resource/staff/image"));
    EXPECT_NE(empty.Received(0), "");
    EXPECT_EQ(again.m_szReply, u"");
    EXPECT_EQ(again.m_report.reason, u"the server sent an empty reply");

    // A refusal with an error page: the page gets the server's text, and the
    // picture is kept all the same.
    ScriptedReply refusal = ScriptedReply::Text("{\"error\":\"too large\"}");
    refusal.head = "HTTP/1.0 413 Payload Too Large\r\nContent-Type: application/json\r\n\r\n";
    LoopbackServer refusing(refusal);
    ASSERT_TRUE(refusing.Start());
    CScreenDlg third(12, 34);
    FakeScreenView thirdView(400, 300);
    sendAnother(third, thirdView, refusing.Url(u"/resource/staff/image"));
    EXPECT_EQ(third.m_szReply, u"{\"error\":\"too large\"}");
    EXPECT_EQ(third.m_report.outcome, CaptureReport::Outcome::kNotSent);
    EXPECT_EQ(third.m_report.httpStatus, 413);
    EXPECT_EQ(third.m_szKeptFile, f.files.root + u"pictures/" + FromUtf8(thirdName));
    EXPECT_TRUE(f.files.Listing(u"tmp").empty());
    // Sorted by name: " (" comes before ".".
    EXPECT_EQ(f.files.Listing(u"pictures"), (std::vector<std::string>{second, thirdName, kept}));
  }
  {
    // Without a temporary folder nothing is uploaded; the capture is kept.
    CaptureFixture f;
    f.files.noTemp = true;
    f.dlg.SetUploadUrl(u"http://127.0.0.1:" + FormatDecimal(deadPort) + u"/resource/staff/image");
    f.dlg.OnSend();
    EXPECT_TRUE(f.dlg.m_bSent);
    EXPECT_TRUE(f.files.privateWrites.empty());
    EXPECT_EQ(f.dlg.m_report.reason, u"the temporary file could not be written");
    EXPECT_EQ(f.files.Listing(u"pictures"), (std::vector<std::string>{kept}));
  }
}

TEST(ScreenSend, ASlowServerNeverHoldsTheScreenBeyondTheBoundAndEscCancels) {
  using Clock = std::chrono::steady_clock;
  // A server that accepts the picture and then answers one byte every
  // 300 ms: every byte would restart a per-read bound.
  ScriptedReply drip = ScriptedReply::Text(std::string(200, 'x'));
  drip.dripMs = 300;
  const std::string kept = "Ostrel截屏未发送 2026-12-07 134501.jpg";
  {
    LoopbackServer server(drip);
    ASSERT_TRUE(server.Start());
    CaptureFixture f;
    f.dlg.SetUploadUrl(server.Url(u"/resource/staff/image"));
    f.dlg.SetUploadBound(std::chrono::milliseconds(1500));
    int turns = 0;
    f.view.onServe = [&](int turn) {
      turns = turn;
      // The window keeps serving the agent meanwhile, and refuses new work.
      if (turn == 3) {
        EXPECT_TRUE(f.dlg.IsSending());
        f.dlg.OnSend();
        f.dlg.OnLButtonDown({150, 150});
        EXPECT_TRUE(f.view.results.empty());
      }
    };
    const Clock::time_point start = Clock::now();
    f.dlg.OnSend();
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1400));
    EXPECT_LT(took, std::chrono::milliseconds(4500));
    EXPECT_GT(turns, 20);
    EXPECT_EQ(server.Connections(), 1u);
    // A timed-out upload is a failed one: the page gets "", the picture is kept.
    EXPECT_TRUE(f.dlg.m_bSent);
    EXPECT_EQ(f.dlg.m_szReply, u"");
    EXPECT_EQ(f.view.results, (std::vector<int>{kCaptureDone}));
    EXPECT_EQ(f.files.Listing(u"pictures"), (std::vector<std::string>{kept}));
    EXPECT_EQ(TempDir::Read(PathOf(f.dlg.m_szKeptFile)), f.ExpectedImage(1));
    // The note stood where the toolbar was, and went again.
    EXPECT_EQ(f.view.statusTexts, (std::vector<std::u16string>{kSendingText, u""}));
    EXPECT_EQ(f.view.statusAt, (Rect{0, 245, 500, 275}));
    for (int id : {kBtnRectangle, kBtnEllipse, kBtnArrow, kBtnText, kBtnSave, kBtnSend})
      EXPECT_FALSE(f.view.buttons[id].shown) << id;
  }
  {
    // Esc while the upload runs cancels it at once.
    LoopbackServer server(drip);
    ASSERT_TRUE(server.Start());
    CaptureFixture f;
    f.dlg.SetUploadUrl(server.Url(u"/resource/staff/image"));
    f.view.onServe = [&](int turn) {
      if (turn == 20) f.dlg.OnCancel();
    };
    const Clock::time_point start = Clock::now();
    f.dlg.OnSend();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_TRUE(f.dlg.m_bSent);
    EXPECT_EQ(f.dlg.m_szReply, u"");
    EXPECT_EQ(f.view.results, (std::vector<int>{kCaptureDone}));
    EXPECT_EQ(f.files.Listing(u"pictures"), (std::vector<std::string>{kept}));
    EXPECT_EQ(UnsentNoticeText(f.dlg.m_szKeptFile),
              u"已保存到 " + f.files.root + u"pictures/" + FromUtf8(kept));
  }
}

// The fake window whose JPEG encoder fails.
struct NoJpegView : FakeScreenView {
  using FakeScreenView::FakeScreenView;
  std::optional<std::string> EncodeImage(size_t index, const PixelBuffer& image) override {
    if (index == 1) return std::nullopt;
    return FakeScreenView::EncodeImage(index, image);
  }
};

TEST(ScreenSend, APictureThatCannotBeSentIsKeptWhereTheNextSendLeavesIt) {
  const uint16_t deadPort = test::ClosedLoopbackPort();
  ASSERT_NE(deadPort, 0);
  const std::u16string deadUrl = u"http://127.0.0.1:" + FormatDecimal(deadPort) + u"/resource/staff/image";
  {
    // No JPEG can be made: the picture is kept as PNG, and nothing is sent.
    TempDir dir("capture-nojpeg");
    DiskFiles files(dir);
    CScreenDlg dlg(12, 34);
    NoJpegView view(400, 300);
    view.Attach(&dlg);
    dlg.SetFiles(&files);
    dlg.SetHttpSeams(PlatformHttpSeams());
    dlg.OnInitDialog(NoisyBuffer(400, 300));
    dlg.OnLButtonDown({10, 10});
    dlg.OnMouseMove({60, 50});
    dlg.OnLButtonUp({60, 50});
    dlg.SetUploadUrl(deadUrl);
    dlg.OnSend();
    EXPECT_TRUE(dlg.m_bSent);
    EXPECT_EQ(dlg.m_szReply, u"");
    EXPECT_TRUE(files.privateWrites.empty());
    ASSERT_EQ(files.Listing(u"pictures"),
              (std::vector<std::string>{"Ostrel截屏未发送 2026-12-07 134501.png"}));
    EXPECT_EQ(TempDir::Read(PathOf(dlg.m_szKeptFile)), EncodeBlob(2, dlg.SelectionPixels()));
  }
  {
    // No pictures folder: kept in the temporary folder under the dated
    // name, which a later send (to a server that answers) leaves alone.
    CaptureFixture f;
    struct NoPictures : DiskFiles {
      using DiskFiles::DiskFiles;
      std::u16string PicturesDirectory() override { return u""; }
    } files(f.dir);
    f.dlg.SetFiles(&files);
    f.dlg.SetUploadUrl(deadUrl);
    f.dlg.OnSend();
    const std::u16string kept = files.root + u"tmp/Ostrel截屏未发送 2026-12-07 134501.jpg";
    EXPECT_EQ(f.dlg.m_szKeptFile, kept);
    EXPECT_EQ(TempDir::Read(PathOf(kept)), f.ExpectedImage(1));

    LoopbackServer server(ScriptedReply::Text("{\"id\":1}"));
    ASSERT_TRUE(server.Start());
    CaptureFixture g;
    g.dlg.SetFiles(&files);
    g.dlg.SetUploadUrl(server.Url(u"/resource/staff/image"));
    g.dlg.OnSend();
    EXPECT_EQ(g.dlg.m_szReply, u"{\"id\":1}");
    EXPECT_EQ(TempDir::Read(PathOf(kept)), f.ExpectedImage(1));
    EXPECT_EQ(files.Listing(u"tmp"), (std::vector<std::string>{"Ostrel截屏未发送 2026-12-07 134501.jpg"}));
  }
}

TEST(ScreenSave, EmptySelectionCancelAndTheEncoderByExtension) {
  CaptureFixture f;
  // Cancelled: the dialog stays open in its placed phase.
  f.dlg.OnSave();
  EXPECT_EQ(f.view.saveQuestions, 1);
  EXPECT_TRUE(f.view.results.empty());
  // The extension picks the encoder, ignoring case.
  f.view.savePath = f.files.root + u"shot.Png";
  f.dlg.OnSave();
  EXPECT_EQ(f.view.results, (std::vector<int>{kCaptureDone}));
  EXPECT_EQ(TempDir::Read(PathOf(*f.view.savePath)), f.ExpectedImage(2));
  EXPECT_FALSE(f.dlg.m_bSent);
  // An extension no encoder knows: no file, and the dialog still ends.
  CaptureFixture g;
  g.view.savePath = g.files.root + u"shot.xyz";
  g.dlg.OnSave();
  EXPECT_EQ(g.view.results, (std::vector<int>{kCaptureDone}));
  EXPECT_FALSE(std::filesystem::exists(PathOf(*g.view.savePath)));

  // A click without a drag: nothing to save or send, the dialog stays open.
  ScreenFixture e(200, 100);
  DiskFiles files(f.dir);
  e.dlg.SetFiles(&files);
  e.Select({50, 50}, {50, 50});
  e.view.savePath = f.files.root + u"empty.jpg";
  e.dlg.OnSave();
  e.dlg.OnSend();
  EXPECT_EQ(e.view.saveQuestions, 0);
  EXPECT_TRUE(e.view.results.empty());
  EXPECT_FALSE(e.dlg.m_bSent);
  EXPECT_TRUE(files.privateWrites.empty());
  e.dlg.OnCancel();
  EXPECT_EQ(e.view.results, (std::vector<int>{kCaptureCancelled}));
}

TEST(ScreenSave, NamesAndEncoderChoice) {
  EXPECT_EQ(UnsentCaptureName(LocalTime{2026, 12, 7, 13, 45, 1}), u"Ostrel截屏未发送 2026-12-07 134501.jpg");
  EXPECT_EQ(DefaultUploadUrl(), std::u16string(PARLEX_CHAT_URL) + u"resource/staff/image");
  const std::vector<ImageEncoderInfo> encoders = {{u"*.BMP;*.DIB"}, {u"*.JPG;*.JPEG;*.JPE"}, {u"*.jpeg"}};
  EXPECT_EQ(ChooseEncoder(u"C:\\a\\b.JPeg", encoders), 1u);
  EXPECT_EQ(ChooseEncoder(u"/home/a.b/shot.dib", encoders), 0u);
  EXPECT_EQ(ChooseEncoder(u"/home/a.jpg/shot", encoders), std::nullopt);
  EXPECT_EQ(ChooseEncoder(u"shot.gif", encoders), std::nullopt);
}

}  // namespace
}  // namespace parlex::testing
