// The main window and run procedure in this process, against pages served
// from a loopback server the test starts.
#include "app/qt/main_window_qt.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWindow>
#include <memory>

#include "app/qt/chat_page_qt.h"
#include "app/qt/dialog_units.h"
#include "app/qt/tray_icon_qt.h"
#include "app/qt/program_qt.h"
#include "app/shell_texts.h"
#include "qt_test_support.h"
#include "support/x11_display.h"

namespace parlex::app::qt {
namespace {

using parlex::testing::EvalInPage;
using parlex::testing::LoopbackHttpServer;
using parlex::testing::WaitUntil;

constexpr int kLoadTimeoutMs = 30000;
constexpr int kFocusTimeoutMs = 5000;

const QByteArray kAgentPage =
    "<!doctype html><html><head><meta charset='utf-8'><title>agent</title></head>"
    "<body><p>agent page</p><input id='a'><input id='b'></body></html>";
const QByteArray kSecondPage =
    "<!doctype html><html><head><title>second</title></head><body><p>second</p></body></html>";

// Arms `timer` to run `action` once after `ms`; the timer belongs to the test,
// so the bound cannot fire into a later test.
template <typename Action>
void Bound(QTimer& timer, int ms, Action action) {
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, action);
  timer.start(ms);
}

bool PageHasFocus(MainWindowQt& window) {
  const auto focused = EvalInPage(window.view()->page(), QStringLiteral("document.hasFocus()"), 2000);
  return focused && focused->toBool();
}

QString PageValue(MainWindowQt& window, const QString& script) {
  const auto value = EvalInPage(window.view()->page(), script, 2000);
  return value ? value->toString() : QStringLiteral("<no answer>");
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening());
    server_.Serve(QStringLiteral("/embeded"), kAgentPage);
    server_.Serve(QStringLiteral("/second"), kSecondPage);
  }

  // Opens the window on the agent page and waits for the first load.
  std::unique_ptr<MainWindowQt> OpenShown() {
    auto window = std::make_unique<MainWindowQt>(server_.Url(QStringLiteral("/embeded")));
    QObject::connect(window->view(), &QWebEngineView::loadFinished, [this](bool ok) {
      ++loads_;
      lastLoadOk_ = ok;
    });
    window->ShowAndFocus();  // as the run procedure shows it
    EXPECT_TRUE(WaitUntil([&] { return loads_ >= 1; }, kLoadTimeoutMs)) << "page never finished loading";
    return window;
  }

  LoopbackHttpServer server_;
  int loads_ = 0;
  bool lastLoadOk_ = false;
};

bool FocusInsideView(MainWindowQt& window) {
  QWidget* focus = window.focusWidget();
  return focus != nullptr && (focus == window.view() || window.view()->isAncestorOf(focus));
}

TEST_F(MainWindowTest, LoadsFocusThePageButNeverPullTheWindowToTheFront) {
  auto window = OpenShown();
  ASSERT_EQ(loads_, 1);
  EXPECT_TRUE(lastLoadOk_);
  ASSERT_FALSE(server_.requests().isEmpty());
  EXPECT_EQ(server_.requests().first(), QStringLiteral("/embeded"));
  EXPECT_TRUE(WaitUntil([&] { return PageHasFocus(*window); }, kFocusTimeoutMs));
  EXPECT_TRUE(window->view()->hasFocus());

  // The agent works in another program's window.
  QWidget other;
  auto* edit = new QLineEdit(&other);
  other.show();
  other.activateWindow();
  edit->setFocus();
  ASSERT_TRUE(WaitUntil([&] { return other.isActiveWindow() && !PageHasFocus(*window); }, kFocusTimeoutMs));

  // The page navigates itself: the load focuses the page inside the window
  // and leaves the agent's window in front.
  EvalInPage(window->view()->page(), QStringLiteral("location.href = '/second'; true"));
  ASSERT_TRUE(WaitUntil([&] { return loads_ >= 2; }, kLoadTimeoutMs));
  EXPECT_TRUE(server_.requests().contains(QStringLiteral("/second")));
  EXPECT_EQ(PageValue(*window, QStringLiteral("document.title")), QStringLiteral("second"));
  WaitUntil([] { return false; }, 500);
  EXPECT_TRUE(other.isActiveWindow());
  EXPECT_FALSE(window->isActiveWindow());
  EXPECT_TRUE(FocusInsideView(*window));

  // Show-and-focus brings it to the front with the page focused.
  window->ShowAndFocus();
  EXPECT_TRUE(WaitUntil([&] { return window->isActiveWindow() && PageHasFocus(*window); }, kFocusTimeoutMs));
}

TEST_F(MainWindowTest, KeysGoToThePageAndEscapeChangesNothing) {
  auto window = OpenShown();
  ASSERT_TRUE(WaitUntil([&] { return PageHasFocus(*window); }, kFocusTimeoutMs));
  EvalInPage(window->view()->page(), QStringLiteral("document.getElementById('a').focus(); true"));
  ASSERT_TRUE(WaitUntil(
      [&] { return PageValue(*window, QStringLiteral("document.activeElement.id")) == QStringLiteral("a"); },
      kFocusTimeoutMs));

  QWidget* target = QApplication::focusWidget();
  ASSERT_NE(target, nullptr);
  QTest::keyClicks(target, QStringLiteral("ab"));
  QTest::keyClick(target, Qt::Key_Tab);  // the page's own tab order, not the window's
  QTest::keyClicks(target, QStringLiteral("c"));
  QTest::keyClick(target, Qt::Key_Escape);
  QTest::keyClick(target, Qt::Key_Return);

  EXPECT_TRUE(WaitUntil(
      [&] {
        return PageValue(*window, QStringLiteral("document.getElementById('a').value + '|' + "
                                                 "document.getElementById('b').value")) ==
               QStringLiteral("ab|c");
      },
      kFocusTimeoutMs))
      << PageValue(*window, QStringLiteral("document.getElementById('a').value + '|' + "
                                           "document.getElementById('b').value"))
             .toStdString();
  WaitUntil([] { return false; }, 300);
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, TitleIconSizeAndPositionFollowTheLayout) {
  auto window = std::make_unique<MainWindowQt>(server_.Url(QStringLiteral("/embeded")));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Ostrel"));
  const QList<QSize> iconSizes = window->windowIcon().availableSizes();
  EXPECT_TRUE(iconSizes.contains(QSize(16, 16)) && iconSizes.contains(QSize(32, 32)) &&
              iconSizes.contains(QSize(256, 256)))
      << iconSizes.size() << " icon sizes";

  const QFontMetrics metrics(QApplication::font());
  const PixelSize expected = DialogUnitsToPixels(
      187, 133,
      BaseUnitsFromFont(metrics.horizontalAdvance(QString::fromUtf16(kAverageWidthSample)),
                        metrics.height()));
  const QSize minimum(expected.width, expected.height);
  ASSERT_GT(minimum.width(), 100);
  EXPECT_EQ(window->minimumSize(), minimum);
  EXPECT_EQ(MainWindowQt::TemplateClientSize(), minimum);

  window->show();
  ASSERT_TRUE(
      WaitUntil([&] { return window->windowHandle() && window->windowHandle()->isExposed(); }, 10000));
  EXPECT_EQ(window->size(), minimum);
  const QRect available = window->screen()->availableGeometry();
  const QPoint offset = window->frameGeometry().center() - available.center();
  EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();

  // Smaller than the layout is refused; larger is filled by the page.
  window->resize(minimum.width() / 2, minimum.height() / 2);
  WaitUntil([] { return false; }, 200);
  EXPECT_EQ(window->size(), minimum);
  EXPECT_EQ(window->view()->geometry(), window->rect());

  window->resize(minimum.width() + 377, minimum.height() + 211);
  EXPECT_TRUE(WaitUntil([&] { return window->view()->geometry() == window->rect(); }, 5000));
  EXPECT_EQ(window->view()->geometry(), QRect(0, 0, minimum.width() + 377, minimum.height() + 211));
}

TEST_F(MainWindowTest, CloseHidesAndTheProgramKeepsRunning) {
  PrepareApplication();
  parlex::test::TrayHost tray;  // the way back to a hidden window
  ASSERT_TRUE(tray.Start());
  auto window = OpenShown();
  bool hiddenAfterClose = false;
  bool closeAccepted = true;
  bool otherWindowClosed = false;

  QObject scope;  // cancels the steps below if the test ends early
  QTimer::singleShot(50, &scope, [&] {
    // The same path as the title bar's close button.
    closeAccepted = window->windowHandle()->close();
  });
  QTimer::singleShot(400, &scope, [&] {
    hiddenAfterClose = window->isHidden();
    // Another window closing while the main window is hidden must not end
    // the program either.
    auto* other = new QWidget;
    other->setAttribute(Qt::WA_DeleteOnClose);
    other->show();
    otherWindowClosed = other->close();
  });
  QTimer::singleShot(1200, &scope, [] { QCoreApplication::exit(41); });
  QTimer safety;
  Bound(safety, 20000, [] { QCoreApplication::exit(-1); });
  EXPECT_EQ(QApplication::exec(), 41);
  EXPECT_FALSE(closeAccepted);
  EXPECT_TRUE(hiddenAfterClose);
  EXPECT_TRUE(otherWindowClosed);
  EXPECT_FALSE(window->isVisible());

  // It comes back with the page focused.
  window->ShowAndFocus();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(WaitUntil([&] { return PageHasFocus(*window); }, kFocusTimeoutMs));
}

TEST_F(MainWindowTest, CloseMinimizesWhenTheDesktopHasNoTray) {
  ASSERT_FALSE(parlex::test::DisplayHasTray());
  auto window = OpenShown();
  ASSERT_TRUE(
      WaitUntil([&] { return window->windowHandle() && window->windowHandle()->isExposed(); }, 10000));
  EXPECT_FALSE(window->windowHandle()->close());
  EXPECT_TRUE(WaitUntil([&] { return window->isMinimized(); }, 5000));
  EXPECT_TRUE(window->isVisible()) << "hidden without a tray icon to bring it back";
}

// Pages that call the external object on load, on the chat service's
// origin (the test server) or on another one.
class PageCallsTest : public MainWindowTest {
 protected:
  std::unique_ptr<MainWindowQt> OpenHidden(const QString& path, const QByteArray& script) {
    server_.Serve(path, "<!doctype html><meta charset='utf-8'><script>" + script + "</script>");
    auto window =
        std::make_unique<MainWindowQt>(server_.Url(path), server_.Url(QStringLiteral("/")).toString());
    QObject::connect(window->view(), &QWebEngineView::loadFinished, [this](bool) { ++loads_; });
    return window;
  }
};

TEST_F(PageCallsTest, MaxmizeShowsTheHiddenWindowMaximized) {
  auto window = OpenHidden(QStringLiteral("/max"), "window.external.maxmize();");
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(WaitUntil([&] { return window->isVisible() && window->isMaximized(); }, kLoadTimeoutMs));
}

TEST_F(PageCallsTest, QuitRemovesTheIconAndEndsTheLoopWithZero) {
  auto window = OpenHidden(QStringLiteral("/quit"), "");
  window->ShowAndFocus();
  ASSERT_TRUE(WaitUntil([&] { return loads_ >= 1; }, kLoadTimeoutMs));
  ASSERT_NE(window->trayIcon()->icon(), nullptr);
  QObject scope;
  QTimer::singleShot(
      100, &scope, [&] { window->view()->page()->runJavaScript(QStringLiteral("window.external.quit();")); });
  QTimer safety;
  Bound(safety, 20000, [] { QCoreApplication::exit(-1); });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_EQ(window->trayIcon()->icon(), nullptr) << "tray icon still there";
  EXPECT_FALSE(window->isVisible());
}

TEST_F(PageCallsTest, PageOfAnotherOriginCannotEndTheProgram) {
  LoopbackHttpServer elsewhere;
  auto window = OpenHidden(QStringLiteral("/embeded"), "");
  window->ShowAndFocus();
  ASSERT_TRUE(WaitUntil([&] { return loads_ >= 1; }, kLoadTimeoutMs));
  // The agent followed a link out of the chat service; that site knows
  // even the marker of the object's calls.
  const QString marker = qobject_cast<ChatPageQt*>(window->view()->page())->marker();
  elsewhere.Serve(QStringLiteral("/site"), ("<script>try { window.external.quit(); } catch (e) {}\n"
                                            "prompt('" +
                                            marker +
                                            "', '{\"name\":\"quit\",\"args\":[]}');\n"
                                            "prompt('" +
                                            marker +
                                            "', '{\"name\":\"maxmize\",\"args\":[]}');\n"
                                            "document.title = 'tried';</script>")
                                               .toUtf8());
  window->view()->load(elsewhere.Url(QStringLiteral("/site")));
  QObject scope;
  QTimer::singleShot(3000, &scope, [] { QCoreApplication::exit(41); });
  QTimer safety;
  Bound(safety, 20000, [] { QCoreApplication::exit(-1); });
  EXPECT_EQ(QApplication::exec(), 41);
  EXPECT_EQ(PageValue(*window, QStringLiteral("document.title")), QStringLiteral("tried"));
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isMaximized());
  EXPECT_NE(window->trayIcon()->icon(), nullptr);
}

TEST_F(PageCallsTest, ExitDuringACaptureEndsTheCaptureFirstThenLeavesWithItsCode) {
  auto window = OpenHidden(QStringLiteral("/embeded"), "");
  window->ShowAndFocus();
  ASSERT_TRUE(WaitUntil([&] { return loads_ >= 1; }, kLoadTimeoutMs));
  QObject scope;
  QTimer::singleShot(100, &scope, [&] {
    window->view()->page()->runJavaScript(QStringLiteral("window.external.capture(12, 34);"));
  });
  // Once the capture covers the screen, the tray's "退出"; from then on the
  // main window must never show again.
  bool exitAsked = false;
  bool shownAgain = false;
  bool captureUp = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &scope, [&] {
    QWidget* capture = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != window.get() && w->isVisible() && w->isFullScreen()) capture = w;
    if (exitAsked && window->isVisible()) shownAgain = true;
    if (capture && !exitAsked) {
      captureUp = true;
      exitAsked = true;
      emit window->trayIcon()->exitRequested();
    }
  });
  watch.start(20);
  QTimer safety;
  Bound(safety, 30000, [] { QCoreApplication::exit(-1); });
  EXPECT_EQ(QApplication::exec(), kExitFromTrayMenu);
  watch.stop();
  EXPECT_TRUE(captureUp);
  EXPECT_FALSE(shownAgain) << "the window came back just before the program left";
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->trayIcon()->icon(), nullptr) << "tray icon still there";
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_FALSE(w->isVisible() && w->isFullScreen()) << "the capture window outlived the capture";
}

TEST_F(MainWindowTest, RunProcedureAnswersTheLoopsExitCode) {
  PrepareApplication();
  bool sawWindow = false;
  QObject scope;
  QTimer::singleShot(300, &scope, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (qobject_cast<MainWindowQt*>(widget) && widget->isVisible()) sawWindow = true;
    }
    QCoreApplication::exit(kExitFromTrayMenu);
  });
  QTimer safety;
  Bound(safety, 20000, [] { QCoreApplication::exit(-1); });
  EXPECT_EQ(RunMainWindow(server_.Url(QStringLiteral("/embeded"))), 32778);
  EXPECT_TRUE(sawWindow);
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_EQ(qobject_cast<MainWindowQt*>(widget), nullptr) << "main window outlived the run";
  }
}

TEST(AlreadyRunningMessage, IsAPlainBoxWithOkThatWaitsForTheAgent) {
  QString text, title;
  QMessageBox::Icon icon = QMessageBox::Critical;
  QMessageBox::StandardButtons buttons;
  bool hadOwner = true;
  bool found = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || found) return;
    found = true;
    text = box->text();
    title = box->windowTitle();
    icon = box->icon();
    buttons = box->standardButtons();
    hadOwner = box->parentWidget() != nullptr;
    box->button(QMessageBox::Ok)->click();
  });
  poll.start(50);
  // Never leave a modal box behind, whatever happens.
  QTimer safety;
  Bound(safety, 15000, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  ShowAlreadyRunningMessage();
  ASSERT_TRUE(found);
  EXPECT_EQ(text, QStringLiteral("Ostrel登录程序已经启动！"));
  EXPECT_EQ(title, QStringLiteral("提醒"));
  EXPECT_EQ(icon, QMessageBox::NoIcon);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_FALSE(hadOwner);
}

TEST(AgentPage, IsTheChatServicesEmbededPath) {
  const QUrl url = AgentPageUrl();
  EXPECT_TRUE(url.isValid());
  EXPECT_EQ(url.scheme(), QStringLiteral("http"));
  EXPECT_TRUE(url.path().endsWith(QStringLiteral("/embeded"))) << url.toString().toStdString();
  EXPECT_FALSE(url.path().contains(QStringLiteral("//")));
}

}  // namespace
}  // namespace parlex::app::qt
