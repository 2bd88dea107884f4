// Whole captures on the Linux build, driven by real input through the X
// server (xdotool): a colour grid fills the screen, the capture freezes it,
// the pointer spans a selection, draws an arrow and a rectangle, types a
// text, and then saves (the file dialog answered by typing), sends to a
// loopback server, or cancels with Esc. What is checked is what leaves the
// program: the image file, the bytes of the upload, the files left behind.
#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "capture/qt/capture_files_posix.h"
#include "capture/qt/capture_surface_qt.h"
#include "capture/qt/input_script.h"
#include "capture/qt/screen_view_qt.h"
#include "capture/qt/text_editor_qt.h"
#include "capture/screen_dlg.h"
#include "platform/qt/resource_images.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/scoped_env.h"

namespace parlex::qt {
namespace {

namespace fs = std::filesystem;

QApplication& App() {
  static int argc = 1;
  static char name[] = "capture_screen_view_qt_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The grid every capture freezes: 40-pixel cells, low red and high green and
// blue, so that the annotations' red stands out in any cell.
constexpr int kCell = 40;
QColor GridColour(int x, int y) {
  const int cx = x / kCell;
  const int cy = y / kCell;
  return QColor((cx * 23 + cy * 7) % 90, 110 + (cx * 37) % 140, 110 + (cy * 53) % 140);
}

// A frameless window over the whole screen showing the grid; it paints in
// device pixels, so on a scaled screen the grid is the same on the X server.
class GridWindow : public QWidget {
 public:
  GridWindow() {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen->devicePixelRatio();
    const QSize device = (QSizeF(screen->geometry().size()) * ratio).toSize();
    image_ = QImage(device, QImage::Format_RGB32);
    for (int y = 0; y < device.height(); ++y)
      for (int x = 0; x < device.width(); ++x) image_.setPixel(x, y, GridColour(x, y).rgb());
    image_.setDevicePixelRatio(ratio);
    setGeometry(screen->geometry());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), image_);
  }

 private:
  QImage image_;
};

// With PARLEX_SNAPSHOT_DIR set, the whole screen as the agent sees it, for
// looking at.
void Shoot(const std::string& name) {
  const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR");
  if (!dir) return;
  QTest::qWait(100);
  const std::string cmd = "import -window root '" + std::string(dir) + "/" + name + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

class CaptureQtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    if (!HaveXdotool()) GTEST_SKIP() << "xdotool is not installed";
    ASSERT_TRUE(tmp_.Ok());
    home_ = tmp_.Path() / "home";
    fs::create_directories(home_ / "Pictures");
    fs::create_directories(tmp_.Path() / "tmp");
    // The capture's temporary and pictures folders are this test's own.
    env_.emplace_back(std::make_unique<test::ScopedEnv>("TMPDIR", (tmp_.Path() / "tmp").c_str()));
    // The session's runtime folder, private as a desktop session makes it:
    // the upload's temporary file goes there.
    fs::create_directories(tmp_.Path() / "run");
    fs::permissions(tmp_.Path() / "run", fs::perms::owner_all, fs::perm_options::replace);
    env_.emplace_back(std::make_unique<test::ScopedEnv>("XDG_RUNTIME_DIR", (tmp_.Path() / "run").c_str()));
    env_.emplace_back(std::make_unique<test::ScopedEnv>("HOME", home_.c_str()));
    env_.emplace_back(std::make_unique<test::ScopedEnv>("XDG_CONFIG_HOME", (tmp_.Path() / "config").c_str()));
    grid_ = std::make_unique<GridWindow>();
    grid_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(grid_.get()));
    QTest::qWait(200);
    ratio_ = QGuiApplication::primaryScreen()->devicePixelRatio();
  }
  void TearDown() override {
    grid_.reset();
    env_.clear();
  }

  // The X server's pixels are device pixels; xdotool works in them.
  static std::string At(int x, int y) {
    return "mousemove --sync " + std::to_string(x) + " " + std::to_string(y);
  }
  Step MoveTo(int x, int y) {
    return {Always, [x, y] { Xdo(At(x, y)); }};
  }
  Step Down() {
    return {Always, [] { Xdo("mousedown 1"); }};
  }
  Step Up() {
    return {Always, [] { Xdo("mouseup 1"); }};
  }
  // A left-button drag from one point to another through a midpoint.
  std::vector<Step> Drag(int x0, int y0, int x1, int y1) {
    return {MoveTo(x0, y0), Down(), MoveTo((x0 + x1) / 2, (y0 + y1) / 2), MoveTo(x1, y1), Up()};
  }
  // A click on a toolbar button once it is shown.
  Step ClickButton(ScreenViewQt& view, int id) {
    return {[&view, id] {
              QPushButton* b = view.Button(id);
              return b && b->isVisible();
            },
            [&view, id] {
              QPushButton* b = view.Button(id);
              const QPoint centre = b->mapToGlobal(b->rect().center());
              const QPoint device =
                  (QPointF(centre) * QGuiApplication::primaryScreen()->devicePixelRatio()).toPoint();
              Xdo(At(device.x(), device.y()) + " click 1");
            }};
  }
  Step WindowShown(ScreenViewQt& view) {
    return {[&view] {
              return view.Window() && view.Window()->isVisible() &&
                     QTest::qWaitForWindowExposed(view.Window(), 10);
            },
            [] { QTest::qWait(150); }};
  }

  // The steps of the marks every saved or sent capture carries: an arrow
  // from (350, 250) to (500, 350), a rectangle (550, 250)-(650, 320) and
  // the text "Hi" at (350, 420), in the selection (300, 200)-(700, 500).
  std::vector<Step> Annotate(ScreenViewQt& view) {
    std::vector<Step> steps;
    auto add = [&](std::vector<Step> more) { steps.insert(steps.end(), more.begin(), more.end()); };
    add({ClickButton(view, kBtnArrow)});
    add(Drag(350, 250, 500, 350));
    add({ClickButton(view, kBtnRectangle)});
    add(Drag(550, 250, 650, 320));
    add({ClickButton(view, kBtnText),
         MoveTo(350, 420),
         {Always, [] { Xdo("click 1"); }},
         {[&view] { return view.Editor() && view.Editor()->hasFocus(); }, [] { Xdo("type --delay 30 Hi"); }},
         {[&view] { return view.Editor() && view.Editor()->toPlainText() == QStringLiteral("Hi"); },
          [] {
            Shoot("capture_text_open.png");
            Xdo(At(600, 470) + " click 1");
          }},
         {[&view] { return !view.Editor(); }, [] {}}});
    return steps;
  }

  // Checks an image of the selection (300, 200)-(700, 500) against the grid
  // and the marks of Annotate, within what JPEG keeps of them.
  void ExpectMarkedSelection(const QImage& image, const CScreenDlg& dialog) {
    ASSERT_EQ(image.size(), QSize(400, 300));
    // The image is the frozen screen with the marks: close to the dialog's own
    // pixels of the selection everywhere.
    const PixelBuffer expected = dialog.SelectionPixels();
    ASSERT_EQ(expected.Width(), 400);
    double total = 0;
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 400; ++x) {
        const QRgb got = image.pixel(x, y);
        const Color want = expected.At(x, y);
        total += std::abs(qRed(got) - RedOf(want)) + std::abs(qGreen(got) - GreenOf(want)) +
                 std::abs(qBlue(got) - BlueOf(want));
      }
    EXPECT_LT(total / (400.0 * 300.0 * 3.0), 6.0) << "the image is not the selection";
    // Away from the marks, the grid's own colours at the screen position.
    auto near = [](int x, int y, int l, int t, int r, int b) {
      return x > l - 8 && x < r + 8 && y > t - 8 && y < b + 8;
    };
    int checked = 0;
    for (int y = 5; y < 300; y += 20)
      for (int x = 5; x < 400; x += 20) {
        const int sx = 300 + x, sy = 200 + y;
        if (near(sx, sy, 350, 250, 500, 350) || near(sx, sy, 550, 250, 650, 320) ||
            near(sx, sy, 340, 410, 420, 460))
          continue;
        if (sx % kCell < 4 || sx % kCell > kCell - 4 || sy % kCell < 4 || sy % kCell > kCell - 4) continue;
        const QColor want = GridColour(sx, sy);
        const QRgb got = image.pixel(x, y);
        EXPECT_NEAR(qRed(got), want.red(), 24) << sx << "," << sy;
        EXPECT_NEAR(qGreen(got), want.green(), 24) << sx << "," << sy;
        EXPECT_NEAR(qBlue(got), want.blue(), 24) << sx << "," << sy;
        ++checked;
      }
    EXPECT_GT(checked, 100);
    // How much redder than the grid a screen position came out: the marks
    // are pure red over cells of little red.
    auto redder = [&](int sx, int sy) {
      const QRgb p = image.pixel(sx - 300, sy - 200);
      return qRed(p) - GridColour(sx, sy).red();
    };
    // The most of that within one pixel (a one-pixel line is smeared by
    // JPEG's colour subsampling).
    auto lineAt = [&](int sx, int sy) {
      int most = -255;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) most = std::max(most, redder(sx + dx, sy + dy));
      return most;
    };
    // Inside the arrowhead (the tip at (500, 350), the line's direction (3, 2)).
    EXPECT_GT(redder(494, 346), 120);
    // The shaft and the rectangle's four sides.
    EXPECT_GT(lineAt(425, 300), 50);
    EXPECT_GT(lineAt(600, 250), 50);
    EXPECT_GT(lineAt(600, 319), 50);
    EXPECT_GT(lineAt(550, 285), 50);
    EXPECT_GT(lineAt(649, 285), 50);
    EXPECT_LT(lineAt(600, 285), 20);  // the rectangle is hollow
    // The text: red strokes in its box.
    int red = 0;
    for (int y = 420; y < 445; ++y)
      for (int x = 350; x < 380; ++x) red += redder(x, y) > 60;
    EXPECT_GT(red, 8) << "no text";
  }

  // A dialog that sends to url with the program's transport and this
  // test's folders.
  void Prepare(CScreenDlg& dialog, const std::u16string& url) {
    dialog.SetUploadUrl(url);
    dialog.SetHttpSeams(PlatformHttpSeams());
    dialog.SetFiles(&files_);
  }

  test::TempDir tmp_{"capture-qt"};
  std::vector<std::unique_ptr<test::ScopedEnv>> env_;  // put back after each test
  fs::path home_;
  // The capture's files; its folders are the ones SetUp points the environment at.
  CaptureFilesPosix files_;
  std::unique_ptr<GridWindow> grid_;
  qreal ratio_ = 1.0;
};

// A run that hangs is ended: an open dialog first, then the capture.
std::function<void()> CancelOnTimeout(CScreenDlg& dialog) {
  return [&dialog] {
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
    dialog.OnCancel();
  };
}

TEST_F(CaptureQtTest, SaveWritesTheMarkedSelectionAsJpeg) {
  CScreenDlg dialog(12, 34);
  dialog.SetFiles(&files_);
  ScreenViewQt view(dialog);
  const fs::path target = tmp_.Path() / "saved";  // no extension: the dialog adds ".jpg"
  bool dialogSeen = false;
  std::vector<Step> steps =
      Join({{WindowShown(view)},
            Drag(300, 200, 700, 500),
            Annotate(view),
            {{Always, [] { Shoot("capture_marked.png"); }},
             ClickButton(view, kBtnSave),
             {[&] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
              [&] {
                dialogSeen = true;
                QTest::qWait(200);
                Shoot("capture_save_dialog.png");
                Xdo("key --clearmodifiers ctrl+a");
                Xdo("type --delay 10 '" + target.string() + "'");
                Xdo("key Return");
              }}}});
  Driver driver(CancelOnTimeout(dialog), std::move(steps));
  const int result = view.Run();
  EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
  EXPECT_TRUE(dialogSeen);
  EXPECT_EQ(result, kCaptureDone);
  EXPECT_FALSE(dialog.m_bSent);
  EXPECT_EQ(dialog.m_rcSelection, (Rect{300, 200, 700, 500}));
  EXPECT_TRUE(dialog.m_bAnnotated);
  // Run scaled by the test below: the screen really was.
  if (const char* factor = std::getenv("QT_SCALE_FACTOR")) {
    EXPECT_DOUBLE_EQ(ratio_, std::atof(factor));
  }
  const fs::path written = tmp_.Path() / "saved.jpg";
  ASSERT_TRUE(fs::exists(written));
  const std::string bytes = test::TempDir::Read(written);
  ASSERT_GT(bytes.size(), 3u);
  EXPECT_EQ(bytes.substr(0, 3), std::string("\xFF\xD8\xFF"));  // a JPEG
  ExpectMarkedSelection(QImage(QString::fromStdString(written.string())), dialog);
  if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR"))
    fs::copy_file(written, fs::path(dir) / "capture_saved.jpg", fs::copy_options::overwrite_existing);
}

TEST_F(CaptureQtTest, TheCaptureEndedUnderAnOpenSaveQuestionTakesTheQuestionAlong) {
  // The program leaving while the save question is open ends the capture
  // as Esc does: the question goes too and nothing is written.
  CScreenDlg dialog(12, 34);
  dialog.SetFiles(&files_);
  ScreenViewQt view(dialog);
  Driver driver(
      CancelOnTimeout(dialog),
      Join({{WindowShown(view)},
            Drag(300, 200, 500, 300),
            {ClickButton(view, kBtnSave),
             {[] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
              [&] { dialog.OnCancel(); }}}}));
  EXPECT_EQ(view.Run(), kCaptureCancelled);
  EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(fs::is_empty(home_ / "Pictures"));
}

// The body part of a multipart upload named `name`.
std::string PartBody(const std::string& request, const std::string& name) {
  const std::string marker = "name=\"" + name + "\"";
  const size_t at = request.find(marker);
  if (at == std::string::npos) return {};
  const size_t start = request.find("\r\n\r\n", at);
  if (start == std::string::npos) return {};
  const size_t end = request.find("\r\n--", start + 4);
  if (end == std::string::npos) return {};
  return request.substr(start + 4, end - start - 4);
}

// What a watcher thread saw at the temporary file's name while the upload ran.
struct TempFileWatch {
  std::atomic<bool> stop{false};
  std::atomic<bool> sawRegular{false};
  std::atomic<unsigned> mode{0};
  std::thread thread;
  void Start(const fs::path& path) {
    thread = std::thread([this, path] {
      while (!stop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
          sawRegular = true;
          mode = st.st_mode & 07777;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  ~TempFileWatch() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
};

TEST_F(CaptureQtTest, SendUploadsTheSelectionAndKeepsNoTemporaryFile) {
  test::ScriptedReply reply = test::ScriptedReply::Text("{\"url\":\"/img/1.jpg\"}");
  reply.delayMs = 300;  // the temporary file lives while the server waits
  test::LoopbackServer server(reply);
  ASSERT_TRUE(server.Start());
  // Files planted at the upload's fixed name in the shared temporary folder
  // (another user's file, a link to a file of the agent's) change nothing:
  // the upload's file lives in the agent's private runtime folder.
  const fs::path shared = tmp_.Path() / "tmp" / "ostrelscreenshottmp.jpg";
  const fs::path victim = tmp_.Write("victim.txt", "keep");
  fs::create_symlink(victim, shared);
  const fs::path temp = tmp_.Path() / "run" / "parlex" / "ostrelscreenshottmp.jpg";
  TempFileWatch watch;
  watch.Start(temp);

  CScreenDlg dialog(12, 34);
  Prepare(dialog, server.Url(u"/resource/staff/image"));
  ScreenViewQt view(dialog);
  Driver driver(
      CancelOnTimeout(dialog),
      Join({{WindowShown(view)}, Drag(300, 200, 700, 500), Annotate(view), {ClickButton(view, kBtnSend)}}));
  const int result = view.Run();
  EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
  EXPECT_EQ(result, kCaptureDone);
  EXPECT_TRUE(dialog.m_bSent);
  EXPECT_EQ(dialog.m_szReply, u"{\"url\":\"/img/1.jpg\"}");
  EXPECT_TRUE(dialog.m_szKeptFile.empty());

  const std::string request = server.Received(0);
  EXPECT_EQ(request.rfind("POST /resource/staff/image HTTP/1.0\r\n", 0), 0u) << request.substr(0, 200);
  EXPECT_NE(request.find("User-Agent: OstrelAgent\r\n"), std::string::npos);
  EXPECT_EQ(PartBody(request, "companyId"), "12");
  EXPECT_EQ(PartBody(request, "visitorId"), "34");
  const std::string jpeg = PartBody(request, "upload");
  const QImage sent = QImage::fromData(QByteArray(jpeg.data(), static_cast<qsizetype>(jpeg.size())), "JPEG");
  ExpectMarkedSelection(sent, dialog);

  watch.stop = true;
  watch.thread.join();
  EXPECT_TRUE(watch.sawRegular) << "the temporary file was never seen";
  EXPECT_EQ(watch.mode.load(), 0600u);
  EXPECT_EQ(test::TempDir::Read(victim), "keep");
  EXPECT_TRUE(fs::is_symlink(shared));
  EXPECT_EQ(fs::status(temp.parent_path()).permissions(), fs::perms::owner_all);
  EXPECT_FALSE(fs::exists(fs::symlink_status(temp))) << "the temporary file was left behind";
  EXPECT_TRUE(fs::is_empty(home_ / "Pictures"));
}

TEST_F(CaptureQtTest, UnreachableServerGivesEmptyReplyAndKeepsTheImage) {
  // A port nobody listens on: connect is refused at once.
  std::u16string url;
  {
    test::LoopbackServer closed(test::ScriptedReply::CloseAtOnce());
    ASSERT_TRUE(closed.Start());
    url = closed.Url(u"/resource/staff/image");
  }
  CScreenDlg dialog(-1, 7);
  Prepare(dialog, url);
  ScreenViewQt view(dialog);
  Driver driver(CancelOnTimeout(dialog),
                Join({{WindowShown(view)}, Drag(300, 200, 700, 500), {ClickButton(view, kBtnSend)}}));
  EXPECT_EQ(view.Run(), kCaptureDone);
  EXPECT_TRUE(driver.Finished());
  EXPECT_TRUE(dialog.m_bSent);
  EXPECT_TRUE(dialog.m_szReply.empty());
  // The image went to the pictures folder under the unsent name.
  std::vector<fs::path> kept;
  for (const auto& entry : fs::directory_iterator(home_ / "Pictures")) kept.push_back(entry.path());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].u16string(), dialog.m_szKeptFile);
  EXPECT_EQ(kept[0].filename().string().rfind("Ostrel截屏未发送 ", 0), 0u) << kept[0];
  const QImage image(QString::fromStdString(kept[0].string()));
  EXPECT_EQ(image.size(), QSize(400, 300));
  EXPECT_FALSE(fs::exists(tmp_.Path() / "run" / "parlex" / "ostrelscreenshottmp.jpg"));
}

TEST_F(CaptureQtTest, AnotherUsersFileInTheTemporaryFolderChangesNothing) {
  // No runtime folder: the program's own folder under $TMPDIR. Another
  // user's file at the upload's old fixed name, and another user's folder
  // at the program's folder name, are left as they are.
  env_.emplace_back(std::make_unique<test::ScopedEnv>("XDG_RUNTIME_DIR", nullptr));
  const fs::path shared = tmp_.Write("tmp/ostrelscreenshottmp.jpg", "not mine");
  const fs::path squatted = tmp_.Path() / "tmp" / ("parlex-" + std::to_string(::geteuid()));
  fs::create_directories(squatted);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(squatted.c_str(), 65534, 65534), 0);
  } else {
    fs::permissions(squatted, fs::perms::all, fs::perm_options::replace);  // open to all: not private
  }
  const std::u16string dir = files_.TempDirectory();
  ASSERT_FALSE(dir.empty());
  const fs::path folder(dir);
  EXPECT_NE(folder.lexically_normal(), (squatted / "").lexically_normal());
  EXPECT_EQ(folder.parent_path().parent_path(), tmp_.Path() / "tmp");
  struct stat st {};
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, ::geteuid());
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  test::LoopbackServer server(test::ScriptedReply::Text("{\"id\":5}"));
  ASSERT_TRUE(server.Start());
  CScreenDlg dialog(12, 34);
  Prepare(dialog, server.Url(u"/resource/staff/image"));
  ScreenViewQt view(dialog);
  Driver driver(CancelOnTimeout(dialog),
                Join({{WindowShown(view)}, Drag(300, 200, 500, 300), {ClickButton(view, kBtnSend)}}));
  EXPECT_EQ(view.Run(), kCaptureDone);
  EXPECT_TRUE(driver.Finished());
  EXPECT_EQ(dialog.m_szReply, u"{\"id\":5}");
  const std::string jpeg = PartBody(server.Received(0), "upload");
  EXPECT_EQ(QImage::fromData(QByteArray(jpeg.data(), static_cast<qsizetype>(jpeg.size())), "JPEG").size(),
            QSize(200, 100));
  EXPECT_EQ(test::TempDir::Read(shared), "not mine");
  EXPECT_TRUE(fs::is_empty(squatted));
}

TEST_F(CaptureQtTest, ASlowServerLeavesTheScreenWithinTheBoundAndEscCancelsTheUpload) {
  // The server takes the picture, then answers one byte every 400 ms.
  test::ScriptedReply drip = test::ScriptedReply::Text(std::string(100, 'x'));
  drip.dripMs = 400;
  for (const bool esc : {false, true}) {
    SCOPED_TRACE(esc ? "Esc" : "bound");
    fs::remove_all(home_ / "Pictures");
    fs::create_directories(home_ / "Pictures");
    test::LoopbackServer server(drip);
    ASSERT_TRUE(server.Start());
    CScreenDlg dialog(12, 34);
    Prepare(dialog, server.Url(u"/resource/staff/image"));
    dialog.SetUploadBound(std::chrono::milliseconds(esc ? 60000 : 2500));
    ScreenViewQt view(dialog);
    QString note;
    bool shownWhileSending = false;
    std::chrono::steady_clock::time_point clicked;
    Driver driver(CancelOnTimeout(dialog),
                  Join({{WindowShown(view)},
                        Drag(300, 200, 700, 500),
                        {ClickButton(view, kBtnSend),
                         {[&] {
                            return server.Connections() > 0 && view.StatusNote() &&
                                   view.StatusNote()->isVisible();
                          },
                          [&] {
                            clicked = std::chrono::steady_clock::now();
                            QTest::qWait(600);
                            note = view.StatusNote()->text();
                            shownWhileSending = dialog.IsSending() && view.Window()->isVisible();
                            Shoot(esc ? "capture_sending_esc.png" : "capture_sending.png");
                            if (esc) Xdo("key Escape");
                          }}}}));
    EXPECT_EQ(view.Run(), kCaptureDone);
    const auto took = std::chrono::steady_clock::now() - clicked;
    EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
    EXPECT_EQ(note, QStringLiteral("正在发送…"));
    EXPECT_TRUE(shownWhileSending);
    EXPECT_LT(took, std::chrono::milliseconds(esc ? 2500 : 5000));
    if (!esc) {
      EXPECT_GE(took, std::chrono::milliseconds(1800));
    }
    // A cancelled or timed-out upload is a failed one: the page gets "",
    // the picture is kept and the agent can be told where.
    EXPECT_TRUE(dialog.m_bSent);
    EXPECT_TRUE(dialog.m_szReply.empty());
    ASSERT_FALSE(dialog.m_szKeptFile.empty());
    const fs::path kept(dialog.m_szKeptFile);
    EXPECT_EQ(kept.parent_path(), home_ / "Pictures");
    EXPECT_EQ(QImage(QString::fromStdString(kept.string())).size(), QSize(400, 300));
  }
}

// Ends the capture while the left button is still held in each kind of drag:
// Esc, or the window closed. Nothing outlives what it points to (the
// instrumented build checks), the mouse is free again and nothing is sent.
TEST_F(CaptureQtTest, EndingTheCaptureInTheMiddleOfADragLetsEverythingGo) {
  struct Case {
    const char* name;
    int tool;       // 0: none
    bool selected;  // a selection is placed first
    int fromX, fromY, toX, toY;
    bool close;  // the window closed instead of Esc
  };
  const Case cases[] = {
      {"selecting", 0, false, 300, 200, 500, 350, false},
      {"move", 0, true, 400, 300, 450, 330, true},
      {"resize", 0, true, 600, 400, 650, 450, true},
      {"move with Esc", 0, true, 400, 300, 450, 330, false},
      {"shape", kBtnRectangle, true, 350, 250, 450, 330, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::LoopbackServer server(test::ScriptedReply::Text("never"));
    ASSERT_TRUE(server.Start());
    auto dialog = std::make_unique<CScreenDlg>(12, 34);
    Prepare(*dialog, server.Url(u"/resource/staff/image"));
    auto view = std::make_unique<ScreenViewQt>(*dialog);
    std::vector<Step> steps{WindowShown(*view)};
    if (c.selected) {
      const std::vector<Step> select = Drag(300, 200, 600, 400);
      steps.insert(steps.end(), select.begin(), select.end());
      if (c.tool) steps.push_back(ClickButton(*view, c.tool));
    }
    ScreenViewQt* v = view.get();
    if (c.selected)
      steps.push_back({[v] { return v->Button(kBtnSend) && v->Button(kBtnSend)->isVisible(); }, [] {}});
    steps.push_back(MoveTo(c.fromX, c.fromY));
    steps.push_back({Always, [] { Xdo("mousedown 1"); }});
    steps.push_back(MoveTo((c.fromX + c.toX) / 2, (c.fromY + c.toY) / 2));
    steps.push_back(MoveTo(c.toX, c.toY));
    steps.push_back({Always, [v, c] {
                       QTest::qWait(150);
                       if (c.close) {
                         v->Window()->close();
                       } else {
                         Xdo("key Escape");
                         // A tracker drag takes the first Esc as its own end;
                         // the window's second Esc ends the capture.
                         QTimer::singleShot(300, v->Window(), [] { Xdo("key Escape"); });
                       }
                     }});
    Driver driver(CancelOnTimeout(*dialog), std::move(steps));
    const int result = view->Run();
    Xdo("mouseup 1");
    EXPECT_EQ(result, kCaptureCancelled);
    EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_FALSE(dialog->m_bSent);
    EXPECT_EQ(server.Connections(), 0u);
    // As the capture calls do: the view goes first, then the dialog.
    view.reset();
    QTest::qWait(50);
    dialog.reset();
  }
}

TEST_F(CaptureQtTest, EscCancelsAndSendsNothing) {
  test::LoopbackServer server(test::ScriptedReply::Text("never"));
  ASSERT_TRUE(server.Start());
  CScreenDlg dialog(12, 34);
  Prepare(dialog, server.Url(u"/resource/staff/image"));
  ScreenViewQt view(dialog);
  Driver driver(CancelOnTimeout(dialog),
                Join({{WindowShown(view)},
                      Drag(300, 200, 700, 500),
                      {{[&view] { return view.Button(kBtnSend) && view.Button(kBtnSend)->isVisible(); },
                        [] { Xdo("key Escape"); }}}}));
  EXPECT_EQ(view.Run(), kCaptureCancelled);
  EXPECT_TRUE(driver.Finished());
  EXPECT_FALSE(dialog.m_bSent);
  EXPECT_TRUE(dialog.m_szReply.empty());
  EXPECT_EQ(server.Connections(), 0u);
  EXPECT_EQ(view.Window(), nullptr) << "the capture window outlived the run";
  EXPECT_TRUE(fs::is_empty(tmp_.Path() / "tmp"));
}

TEST_F(CaptureQtTest, AClickPlacesAnEmptySelectionThatSendsNothing) {
  test::LoopbackServer server(test::ScriptedReply::Text("never"));
  ASSERT_TRUE(server.Start());
  CScreenDlg dialog(12, 34);
  Prepare(dialog, server.Url(u"/resource/staff/image"));
  ScreenViewQt view(dialog);
  bool stillOpen = false;
  QRect sendCell;
  Driver driver(CancelOnTimeout(dialog),
                Join({{WindowShown(view)},
                      {MoveTo(400, 300), {Always, [] { Xdo("click 1"); }}, ClickButton(view, kBtnSend)},
                      {{Always, [&] {
                          QTest::qWait(300);
                          stillOpen = view.Window() && view.Window()->isVisible();
                          sendCell = view.Button(kBtnSend)->geometry();
                          Xdo("key Escape");
                        }}}}));
  EXPECT_EQ(view.Run(), kCaptureCancelled);
  EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
  EXPECT_TRUE(stillOpen) << "send ended the capture of an empty selection";
  EXPECT_EQ(dialog.m_rcSelection, (Rect{400, 300, 400, 300}));
  // The toolbar of an empty selection would end at the click point; it is
  // held on the screen from x = 0.
  EXPECT_EQ(sendCell, QRect(450, 305, 50, 30));
  EXPECT_FALSE(dialog.m_bSent);
  EXPECT_EQ(server.Connections(), 0u);
}

// The clipboard as another program reads it, while this one serves it.
QImage ClipboardThroughXclip() {
  QProcess xclip;
  xclip.start(QStringLiteral("xclip"),
              {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
               QStringLiteral("image/png"), QStringLiteral("-o")});
  if (!xclip.waitForStarted(5000)) return {};
  // The event loop keeps running: this process is the one that answers.
  if (!QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, 10000)) return {};
  return QImage::fromData(xclip.readAllStandardOutput(), "PNG");
}

TEST_F(CaptureQtTest, MosaicPenUndoThenCopyLeavesTheMarkedSelectionOnTheClipboard) {
  if (std::system("command -v xclip >/dev/null") != 0) GTEST_SKIP() << "xclip is not installed";
  CScreenDlg dialog(12, 34);
  dialog.SetFiles(&files_);
  ScreenViewQt view(dialog);
  QString sizeWhileSelecting;
  bool sizeGone = false;
  PixelBuffer afterMosaic(0, 0), afterPen(0, 0), afterUndo(0, 0);
  auto shown = [&view](int id) {
    return [&view, id] { return view.Button(id) && view.Button(id)->isVisible(); };
  };
  Driver driver(
      CancelOnTimeout(dialog),
      Join({{WindowShown(view),
             MoveTo(300, 200),
             Down(),
             MoveTo(500, 350),
             {Always,
              [&] {
                QTest::qWait(50);
                if (view.SizeNote() && view.SizeNote()->isVisible())
                  sizeWhileSelecting = view.SizeNote()->text();
                Shoot("capture_size_note.png");
              }},
             MoveTo(700, 500),
             Up()},
            {{shown(kBtnMosaic), [&] { sizeGone = !view.SizeNote() || !view.SizeNote()->isVisible(); }},
             ClickButton(view, kBtnMosaic)},
            Drag(355, 255, 455, 335),
            {{Always, [&] { afterMosaic = dialog.Snapshot(); }}, ClickButton(view, kBtnPen)},
            Drag(500, 300, 600, 400),
            {{Always,
              [&] {
                afterPen = dialog.Snapshot();
                Shoot("capture_mosaic_pen.png");
                Xdo("key ctrl+z");
              }},
             {[&] { return dialog.Snapshot() == afterMosaic; }, [&] { afterUndo = dialog.Snapshot(); }},
             ClickButton(view, kBtnCopy)}}));
  EXPECT_EQ(view.Run(), kCaptureDone);
  EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
  EXPECT_EQ(sizeWhileSelecting, QStringLiteral("200 × 150"));
  EXPECT_TRUE(sizeGone);
  EXPECT_FALSE(dialog.m_bSent);
  ASSERT_EQ(dialog.m_rcSelection, (Rect{300, 200, 700, 500}));
  // The mosaic replaced the grid there with block averages; the pen drew red
  // and its undo took every pixel of it back.
  // Blocks from x = 355 straddle the grid's cell edge at x = 360.
  EXPECT_NE(afterMosaic.At(357, 257), GridColour(357, 257).rgb() & 0xFFFFFFu);
  EXPECT_EQ(afterPen.At(550, 350), Rgb(255, 0, 0));
  EXPECT_EQ(afterUndo, afterMosaic);

  // Another program reads the selection with the mosaic and without the pen,
  // pixel for pixel, after the capture window has gone.
  const QImage clip = ClipboardThroughXclip();
  ASSERT_EQ(clip.size(), QSize(400, 300));
  const PixelBuffer want = dialog.SelectionPixels();
  int differ = 0;
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x) differ += (clip.pixel(x, y) & 0xFFFFFF) != want.At(x, y);
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(clip.pixel(57, 57) & 0xFFFFFF, afterMosaic.At(357, 257));
  EXPECT_EQ(clip.pixel(250, 150) & 0xFFFFFF, GridColour(550, 350).rgb() & 0xFFFFFF);
}

bool SameCursor(const QCursor& a, const QCursor& b) {
  return a.shape() == b.shape() && a.hotSpot() == b.hotSpot() && a.pixmap().toImage() == b.pixmap().toImage();
}

TEST_F(CaptureQtTest, TheSelectionMovesWithTheTrackerAndTheScreenFollows) {
  CScreenDlg dialog(12, 34);
  dialog.SetFiles(&files_);
  ScreenViewQt view(dialog);
  QImage shown;
  QRect toolbarCell;
  bool handleCursor = false;
  auto surface = [&view] { return static_cast<CaptureSurfaceQt*>(view.Window()); };
  Driver driver(
      CancelOnTimeout(dialog),
      Join({{WindowShown(view)},
            Drag(300, 200, 700, 500),
            {{[&view] { return view.Button(kBtnSend) && view.Button(kBtnSend)->isVisible(); }, [] {}}},
            Drag(500, 350, 540, 380),  // inside, no tool: moves the selection
            {{[&view] { return view.Button(kBtnSend) && view.Button(kBtnSend)->isVisible(); },
              [&] {
                QTest::qWait(100);
                shown = surface()->Image().copy();
                toolbarCell = view.Button(kBtnRectangle)->geometry();
                Xdo(At(739, 529));  // the bottom-right handle
              }},
             {Always, [&] {
                QTest::qWait(100);
                handleCursor = SameCursor(view.Window()->cursor(), TrackerCursor(207));
                Xdo("key Escape");
              }}}}));
  EXPECT_EQ(view.Run(), kCaptureCancelled);
  EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
  EXPECT_EQ(dialog.m_rcSelection, (Rect{340, 230, 740, 530}));
  // The toolbar row ends at the selection's right edge, 5 pixels below it.
  EXPECT_EQ(toolbarCell, QRect(240, 535, 50, 30));
  EXPECT_TRUE(handleCursor) << "no sizing cursor over the handle";
  // The window shows the new selection undimmed and the old place dimmed.
  ASSERT_FALSE(shown.isNull());
  auto grid = [](int x, int y) { return GridColour(x, y).rgb() & 0xFFFFFF; };
  auto dim = [](QRgb c) {
    return (uint32_t{DimChannel(static_cast<uint8_t>(qRed(c)))} << 16) |
           (uint32_t{DimChannel(static_cast<uint8_t>(qGreen(c)))} << 8) |
           DimChannel(static_cast<uint8_t>(qBlue(c)));
  };
  EXPECT_EQ(shown.pixel(320, 215) & 0xFFFFFF, dim(grid(320, 215)));
  EXPECT_EQ(shown.pixel(720, 510) & 0xFFFFFF, grid(720, 510));
  EXPECT_EQ(shown.pixel(360, 250) & 0xFFFFFF, grid(360, 250));
  EXPECT_EQ(shown.pixel(760, 515) & 0xFFFFFF, dim(grid(760, 515)));
}

TEST_F(CaptureQtTest, TextWrapsAtTheSelectionsEdgeAndCommitsOnlyItsInk) {
  CScreenDlg dialog(12, 34);
  dialog.SetFiles(&files_);
  ScreenViewQt view(dialog);
  Rect grown{};
  EditorMetrics metrics;
  const QString text = QStringLiteral("wrap wrap wrap wrap wrap");
  Driver driver(CancelOnTimeout(dialog),
                Join({{WindowShown(view)},
                      Drag(300, 200, 500, 400),
                      {ClickButton(view, kBtnText),
                       MoveTo(420, 220),
                       {Always, [] { Xdo("click 1"); }},
                       {[&view] { return view.Editor() && view.Editor()->hasFocus(); },
                        [&] { Xdo("type --delay 20 '" + text.toStdString() + "'"); }},
                       {[&] { return view.Editor() && view.Editor()->toPlainText() == text; },
                        [&] {
                          grown = view.EditorRect();
                          metrics = view.EditorTextMetrics();
                          Xdo(At(310, 390) + " click 1");
                        }},
                       {[&view] { return !view.Editor(); }, [] { Xdo("key Escape"); }}}}));
  EXPECT_EQ(view.Run(), kCaptureCancelled);
  EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
  // The editor grew to the selection's inner edge, then wrapped and grew down.
  EXPECT_EQ(grown.left, 420);
  EXPECT_EQ(grown.top, 220);
  EXPECT_EQ(grown.right, 499);
  const int32_t line = metrics.height + metrics.externalLeading;
  ASSERT_GT(line, 0);
  EXPECT_GE(grown.bottom - grown.top, 3 * line) << "the wrapped lines did not make it taller";
  EXPECT_LT(grown.bottom, 399);
  EXPECT_TRUE(dialog.m_bAnnotated);
  // In the snapshot: red ink in the first and in a wrapped line, the grid
  // through the editor's white, and nothing else changed (the editor's grey
  // frame is never committed).
  const PixelBuffer& shot = dialog.Snapshot();
  int inkTop = 0, inkBelow = 0;
  for (int y = 200; y < 400; ++y)
    for (int x = 300; x < 500; ++x) {
      const QColor grid = GridColour(x, y);
      const Color want = Rgb(static_cast<uint8_t>(grid.red()), static_cast<uint8_t>(grid.green()),
                             static_cast<uint8_t>(grid.blue()));
      const Color got = shot.At(x, y);
      if (got == want) continue;
      const bool inEditor = PtInRect(grown, Point{x, y});
      ASSERT_TRUE(inEditor) << "changed outside the editor at " << x << "," << y;
      ASSERT_GT(RedOf(got), std::max(GreenOf(got), BlueOf(got))) << "not ink at " << x << "," << y;
      if (y < grown.top + line) ++inkTop;
      if (y >= grown.top + line) ++inkBelow;
    }
  EXPECT_GT(inkTop, 10);
  EXPECT_GT(inkBelow, 10);
}

// On a scaled screen the capture works in the screen's own pixels: the same
// input in device pixels gives the same selection, marks and saved image as
// unscaled. The save test runs again in a process of its own with Qt scaling
// by 2 and by 1.25.
TEST(CaptureQtScaledTest, SavedImageHoldsTheScreensDevicePixels) {
  if (!HaveXdotool()) GTEST_SKIP() << "xdotool is not installed";
  if (std::getenv("QT_SCALE_FACTOR")) GTEST_SKIP() << "already scaled";
  test::TempDir out("capture-scaled");
  ASSERT_TRUE(out.Ok());
  for (const char* factor : {"2", "1.25"}) {
    const fs::path log = out.File(std::string("run-") + factor + ".txt");
    const std::string cmd =
        std::string("QT_SCALE_FACTOR=") + factor + " /proc/" + std::to_string(::getpid()) +
        "/exe --gtest_filter=CaptureQtTest.SaveWritesTheMarkedSelectionAsJpeg > '" + log.string() + "' 2>&1";
    const int status = std::system(cmd.c_str());
    const std::string output = test::TempDir::Read(log);
    EXPECT_EQ(status, 0) << "scaled by " << factor << ":\n" << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << "scaled by " << factor << ":\n"
                                                                     << output;
  }
}

}  // namespace
}  // namespace parlex::qt
