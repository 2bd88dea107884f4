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
#include "support/x11_display.h"

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
  // servers' addresses filled in, loads it and answers what the page left
  // in `seen` once it called finish().
  QJsonObject Run(LoopbackHttpServer& server, const QString& path, QString body) {
    body.replace(QStringLiteral("MARKER"), QStringLiteral("'%1'").arg(page_->marker()));
    body.replace(QStringLiteral("OTHER"), other_.Url(QString()).toString());
    server.Serve(path,
                 "<!doctype html><html><head><meta charset='utf-8'><script>var seen = {};\n"
                 "var report = JSON.stringify; function finish() { window.report = report(seen); }\n" +
                     body.toUtf8() + "\n</script></head><body></body></html>");
    int loads = 0;
    QObject scope;
    QObject::connect(page_, &QWebEnginePage::loadFinished, &scope, [&](bool) { ++loads; });
    view_.load(server.Url(path));
    QString report;
    const bool done = WaitUntil(
        [&] {
          if (loads == 0) return false;
          const auto value = EvalInPage(page_, QStringLiteral("window.report"), 1000);
          report = value ? value->toString() : QString();
          return !report.isEmpty();
        },
        kLoadTimeoutMs);
    EXPECT_TRUE(done) << "page " << path.toStdString() << " never finished";
    return QJsonDocument::fromJson(report.toUtf8()).object();
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
    function frameLoaded() { if (++frames === 2) finish(); }
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

TEST_F(PageBridgeTest, HostileCallsReachNothingAndRaiseNoError) {
  const QJsonObject seen = Run(chat_, QStringLiteral("/embeded"), QStringLiteral(R"JS(
    var e = window.external, ask = window.prompt, errors = 0, touched = false;
    function t(f) { try { f(); } catch (err) { ++errors; } }
    var big = 'x'.repeat(1 << 20);
    var evil = {
      get length() { touched = true; throw 1; },
      toString() { touched = true; throw 2; },
      valueOf() { touched = true; throw 3; },
      toJSON() { touched = true; throw 4; }
    };
    // Counts and types that reach nothing.
    t(() => e.notify()); t(() => e.notify('one')); t(() => e.notify('a', 'b', 'c'));
    t(() => e.capture()); t(() => e.capture(1)); t(() => e.capture(1, 2, 3));
    t(() => e.notify(null, 'x')); t(() => e.notify('x', {})); t(() => e.notify([1], 'x'));
    t(() => e.notify(evil, evil)); t(() => e.capture(evil, 1));
    t(() => e.capture('a', 1)); t(() => e.capture(null, 1)); t(() => e.capture(2 ** 31, 1));
    t(() => e.capture(NaN, 1)); t(() => e.capture(1, -Infinity)); t(() => e.capture(1, Symbol('s')));
    t(() => e.capture(10n, 1)); t(() => e.capture(big, big));
    // Conversions that work.
    t(() => e.notify(12, true));
    t(() => e.notify(undefined, 'u'));
    t(() => e.capture('12', 34.0));
    t(() => e.capture(' 7 ', 2.5));
    t(() => e.notify(big, big));
    // Fifty more that must reach nothing.
    var badText = [null, {}, [], function () {}, Symbol('x'), 10n, evil];
    var badNumber = badText.concat([NaN, Infinity, 'text', 2 ** 40, big]);
    for (var i = 0; i < 50; ++i) {
      var name = i % 2 ? 'capture' : 'notify', bad = i % 2 ? badNumber : badText;
      var args = [];
      var count = [0, 1, 2, 3, 2][i % 5];
      for (var k = 0; k < count; ++k) args.push(k === 0 ? bad[i % bad.length] : bad[(i + k) % bad.length]);
      t(() => e[name].apply(e, args));
    }
    // Calls the object never makes: malformed or foreign-shaped payloads.
    seen.malformed = [
      ask(MARKER, '{'), ask(MARKER, '[]'), ask(MARKER, '{"name":5}'), ask(MARKER, '{"name":"Quit","args":[]}'),
      ask(MARKER, '{"name":"maximize","args":[]}'), ask(MARKER, '{"name":"capture","args":[["n"],["n",1]]}'),
      ask(MARKER, '{"name":"notify","args":[1,2]}'), ask(MARKER, 'x'.repeat(100000))
    ].join('|');
    // The page replaces what the object uses; it keeps working.
    var saved = [JSON.stringify, Array.prototype.join];
    window.prompt = function () { throw 'replaced'; };
    JSON.stringify = function () { throw 'replaced'; };
    Object.prototype.toJSON = function () { return 'replaced'; };
    Array.prototype.join = function () { throw 'replaced'; };
    t(() => e.capture(5, 6));
    JSON.stringify = saved[0];
    Array.prototype.join = saved[1];
    delete Object.prototype.toJSON;
    seen.errors = errors;
    seen.touched = touched;
    finish();
  )JS"));
  EXPECT_EQ(seen.value("errors").toInt(-1), 0);
  EXPECT_FALSE(seen.value("touched").toBool(true)) << "the object ran the page's getters";
  EXPECT_EQ(seen.value("malformed").toString(), QStringLiteral("|||||||"));
  const std::u16string big(1 << 20, u'x');
  EXPECT_EQ(host_.calls, (std::vector<HostCall>{Notify(u"12", u"-1"), Notify(u"", u"u"), Capture(12, 34),
                                                Capture(7, 2), Notify(big, big), Capture(5, 6)}));
  // Nothing was put in front of the agent.
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_TRUE(widget == &view_ || !widget->isVisible()) << widget->metaObject()->className();
  }
}

TEST_F(PageBridgeTest, PagesOfOtherOriginsReachNothing) {
  // The window followed a link out of the chat service.
  const QJsonObject seen = Run(other_, QStringLiteral("/elsewhere"), QStringLiteral(R"JS(
    var errors = 0;
    seen.embeded = typeof window.external.embeded;
    try { window.external.quit(); } catch (e) { ++errors; }
    try { window.external.notify('a', 'b'); } catch (e) { ++errors; }
    seen.errors = errors;
    // Even a page that knows the marker gets nothing.
    seen.direct = [prompt(MARKER, '{"name":"quit","args":[]}'), prompt(MARKER, '{"name":"embeded","args":[]}'),
                   prompt(MARKER, '{"name":"notify","args":[["s","a"],["s","b"]]}'),
                   prompt(MARKER, '{"name":"capture","args":[["n",1],["n",2]]}')].join('|');
    finish();
  )JS"));
  EXPECT_EQ(seen.value("embeded").toString(), QStringLiteral("undefined"));
  EXPECT_EQ(seen.value("errors").toInt(), 2) << "the browser's own external has no quit or notify";
  EXPECT_EQ(seen.value("direct").toString(), QStringLiteral("|||"));
  EXPECT_TRUE(host_.calls.empty()) << host_.calls.size() << " calls reached the program";

  // Back on the chat service, the next load has the object again.
  const QJsonObject back = Run(chat_, QStringLiteral("/again"), QStringLiteral(R"JS(
    seen.embeded = window.external.embeded();
    finish();
  )JS"));
  EXPECT_TRUE(back.value("embeded").toBool());
}

TEST_F(PageBridgeTest, CaptureReturnsAfterOnFileSentHasTheReply) {
  host_.outcome = {true, u"回复 \"ok\"\n"};
  QString nestedAnswer = QStringLiteral("<not asked>");
  host_.duringCapture = [&] {
    // A call arriving while the capture runs is not nested.
    nestedAnswer.clear();
    page_->javaScriptPrompt(chat_.Url(QStringLiteral("/")), page_->marker(),
                            QStringLiteral(R"({"name":"capture","args":[["n",1],["n",2]]})"), &nestedAnswer);
  };
  const QJsonObject seen = Run(chat_, QStringLiteral("/embeded"), QStringLiteral(R"JS(
    var log = [];
    window.onFileSent = function (reply) { log.push('sent:' + reply + ':' + arguments.length); };
    log.push('returned:' + window.external.capture(12, 34));
    // A throwing onFileSent does not reach the capture's caller.
    window.onFileSent = function () { log.push('thrown'); throw new Error('page fault'); };
    try { window.external.capture(12, 34); log.push('returned'); } catch (e) { log.push('error'); }
    // Without onFileSent the call simply returns.
    window.onFileSent = undefined;
    try { window.external.capture(12, 34); log.push('returned'); } catch (e) { log.push('error'); }
    seen.log = log.join(',');
    finish();
  )JS"));
  EXPECT_EQ(seen.value("log").toString(),
            QStringLiteral("sent:回复 \"ok\"\n:1,returned:undefined,thrown,returned,returned"));
  EXPECT_EQ(host_.calls, (std::vector<HostCall>{Capture(12, 34), Capture(12, 34), Capture(12, 34)}));
  EXPECT_TRUE(nestedAnswer.isEmpty()) << nestedAnswer.toStdString();

  // Nothing sent: the page is not called back.
  host_.calls.clear();
  host_.outcome = {false, u"unused"};
  const QJsonObject cancelled = Run(chat_, QStringLiteral("/cancelled"), QStringLiteral(R"JS(
    var log = [];
    window.onFileSent = function (reply) { log.push('sent:' + reply); };
    window.external.capture(-5, 2147483647);
    log.push('returned');
    seen.log = log.join(',');
    finish();
  )JS"));
  EXPECT_EQ(cancelled.value("log").toString(), QStringLiteral("returned"));
  EXPECT_EQ(host_.calls, (std::vector<HostCall>{Capture(-5, 2147483647)}));
}

}  // namespace
}  // namespace parlex::app::qt
