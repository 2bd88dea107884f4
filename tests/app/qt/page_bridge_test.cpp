// The page's external object in a real web view, against pages served from
// loopback servers the test starts: one on the chat service's origin, one
// on another port standing for any other site. A recording host stands in
// for the main window's four operations.
#include <gtest/gtest.h>

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebEngineView>
#include <functional>
#include <string>
#include <vector>

#include "app/qt/chat_page_qt.h"
#include "app/qt/program_qt.h"
#include "qt_test_support.h"
#include "x11_test_support.h"

namespace parlex::app::qt {
namespace {

using parlex::testing::EvalInPage;
using parlex::testing::LoopbackHttpServer;
using parlex::testing::WaitUntil;

constexpr int kLoadTimeoutMs = 30000;

struct HostCall {
  std::string op;
  std::u16string title, text;
  int32_t companyId = 0, visitorId = 0;
  bool operator==(const HostCall&) const = default;
};

void PrintTo(const HostCall& call, std::ostream* os) {
  *os << call.op << "(" << QString::fromStdU16String(call.title).left(40).toStdString() << "["
      << call.title.size() << "], " << QString::fromStdU16String(call.text).left(40).toStdString() << "["
      << call.text.size() << "], " << call.companyId << ", " << call.visitorId << ")";
}

HostCall Op(std::string op) { return {std::move(op), {}, {}, 0, 0}; }
HostCall Notify(std::u16string title, std::u16string text) {
  return {"notify", std::move(title), std::move(text), 0, 0};
}
HostCall Capture(int32_t company, int32_t visitor) { return {"capture", {}, {}, company, visitor}; }

class RecordingHost : public IChatPageHost {
 public:
  void Maximize() override { calls.push_back(Op("maximize")); }
  void Notify(const std::u16string& title, const std::u16string& text) override {
    calls.push_back({"notify", title, text, 0, 0});
  }
  void Quit() override { calls.push_back(Op("quit")); }
  CaptureOutcome Capture(int32_t companyId, int32_t visitorId) override {
    calls.push_back({"capture", {}, {}, companyId, visitorId});
    if (duringCapture) duringCapture();
    return outcome;
  }

  std::vector<HostCall> calls;
  CaptureOutcome outcome;
  std::function<void()> duringCapture;
};

// The page with its prompt handler reachable, to make a call arrive while a
// capture is running (the page itself is blocked in its call then).
class PromptablePage : public ChatPageQt {
 public:
  using ChatPageQt::ChatPageQt;
  using ChatPageQt::javaScriptPrompt;
};

class PageBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(chat_.listening());
    ASSERT_TRUE(other_.listening());
    page_ = new PromptablePage(host_, chat_.Url(QStringLiteral("/")).toString(), &view_);
    view_.setPage(page_);
    view_.resize(400, 300);
    view_.show();
  }

  // Serves `body` (a script) as a page on `server` with the marker and the
  // other server's address filled in, loads it and answers what the page
  // left in `seen` once its `done` is set.
  QJsonObject Run(LoopbackHttpServer& server, const QString& path, QString body) {
    body.replace(QStringLiteral("MARKER"), QStringLiteral("'%1'").arg(page_->marker()));
    body.replace(QStringLiteral("OTHER"), other_.Url(QString()).toString());
    body.replace(QStringLiteral("CHAT"), chat_.Url(QString()).toString());
    server.Serve(path, "<!doctype html><html><head><meta charset='utf-8'><script>var seen = {};\n" +
                           body.toUtf8() + "\n</script></head><body></body></html>");
    view_.load(server.Url(path));
    const bool done = WaitUntil(
        [&] {
          const auto value = EvalInPage(page_, QStringLiteral("window.done === true"), 1000);
          return value && value->toBool();
        },
        kLoadTimeoutMs);
    EXPECT_TRUE(done) << "page " << path.toStdString() << " never finished";
    const auto seen = EvalInPage(page_, QStringLiteral("JSON.stringify(seen)"));
    return seen ? QJsonDocument::fromJson(seen->toString().toUtf8()).object() : QJsonObject();
  }

  QString PageValue(const QString& script) {
    const auto value = EvalInPage(page_, script, 2000);
    return value ? value->toString() : QStringLiteral("<no answer>");
  }

  LoopbackHttpServer chat_;
  LoopbackHttpServer other_;
  RecordingHost host_;
  QWebEngineView view_;
  PromptablePage* page_ = nullptr;
};

TEST_F(PageBridgeTest, ChatPagesFindTheObjectBeforeTheirOwnScriptsInEveryFrame) {
  chat_.Serve(QStringLiteral("/frame"),
              "<script>parent.frameSaw = String(window.external.embeded == true);</script>");
  other_.Serve(QStringLiteral("/frame"),
               "<script>new Image().src = '/report/' + typeof window.external.embeded;</script>");
  const QJsonObject seen = Run(chat_, QStringLiteral("/embeded"), QStringLiteral(R"JS(
    var x = window.external;
    seen.types = [typeof x.maxmize, typeof x.notify, typeof x.quit, typeof x.capture].join();
    seen.embededEqualsTrue = (x.embeded == true);
    seen.embededTruthy = !!x.embeded;
    seen.embededCalled = x.embeded();
    seen.embededCalledWithArgs = x.embeded(1, 'a', null);
    var own = Object.getOwnPropertyDescriptor(window, 'external');
    seen.ownAndFixed = !!own && own.configurable === false;
    try { window.external = {}; } catch (e) {}
    try { delete window.external; } catch (e) {}
    seen.kept = window.external === x;
    seen.results = [x.maxmize(), x.notify('标题', 'text'), x.quit(), x.capture(12, 34)].map(String).join();
    var frames = 0;
    function frameLoaded() { if (++frames === 2) window.done = true; }
    document.addEventListener('DOMContentLoaded', function () {
      for (var src of ['/frame', 'OTHER/frame']) {
        var f = document.createElement('iframe');
        f.onload = frameLoaded;
        f.src = src;
        document.body.appendChild(f);
      }
    });
  )JS"));
  EXPECT_EQ(seen.value("types").toString(), QStringLiteral("function,function,function,function"));
  EXPECT_TRUE(seen.value("embededEqualsTrue").toBool());
  EXPECT_TRUE(seen.value("embededTruthy").toBool());
  EXPECT_TRUE(seen.value("embededCalled").toBool());
  EXPECT_TRUE(seen.value("embededCalledWithArgs").toBool());
  EXPECT_TRUE(seen.value("ownAndFixed").toBool());
  EXPECT_TRUE(seen.value("kept").toBool());
  EXPECT_EQ(seen.value("results").toString(), QStringLiteral("undefined,undefined,undefined,undefined"));
  EXPECT_EQ(host_.calls,
            (std::vector<HostCall>{Op("maximize"), Notify(u"标题", u"text"), Op("quit"), Capture(12, 34)}));

  // A frame of the chat service has the object; a frame of another site
  // keeps the browser's own, without embeded.
  EXPECT_EQ(PageValue(QStringLiteral("window.frameSaw")), QStringLiteral("true"));
  EXPECT_TRUE(
      WaitUntil([&] { return other_.requests().contains(QStringLiteral("/report/undefined")); }, 5000))
      << other_.requests().join(' ').toStdString();
}

}  // namespace
}  // namespace parlex::app::qt

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  parlex::testing::HoldXDisplay();
  parlex::app::qt::PrepareProcess();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
