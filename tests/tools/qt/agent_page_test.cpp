// The demo service's agent page in Qt WebEngine, as the program shows it:
// without the program's external object it says so; with one, each button
// reaches its call and the capture takes the chosen conversation's ids, a
// visitor's message raises a balloon only while the page is hidden, and the
// chosen conversation shows its messages and captures and takes replies.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <nlohmann/json.hpp>

#include "app/qt/program_qt.h"
#include "app/qt/qt_test_support.h"
#include "support/x11_display.h"
#include "tools/demo_service_runner.h"

namespace parlex::test {
namespace {

using parlex::testing::EvalInPage;
using parlex::testing::WaitUntil;

// Records every call the page makes on it, as the program's bridge would see them.
constexpr const char* kFakeExternal = R"js(
window.calls = [];
window.external = {
  embeded: true,
  maxmize: function () { calls.push('maxmize'); },
  notify: function (title, text) { calls.push('notify|' + title + '|' + text); },
  quit: function () { calls.push('quit'); },
  capture: function (c, v) { calls.push('capture|' + c + '|' + v + '|' + typeof c); }
};
)js";

class AgentPageTest : public ::testing::Test {
 protected:
  // Loads the agent page; with a fake external object when asked.
  bool Load(bool withExternal) {
    if (withExternal) {
      QWebEngineScript script;
      script.setSourceCode(QString::fromUtf8(kFakeExternal));
      script.setInjectionPoint(QWebEngineScript::DocumentCreation);
      script.setWorldId(QWebEngineScript::MainWorld);
      page_.scripts().insert(script);
    }
    bool loaded = false, ok = false;
    QObject::connect(&page_, &QWebEnginePage::loadFinished, [&](bool result) {
      loaded = true;
      ok = result;
    });
    page_.load(QUrl(QString::fromStdString(service_.Url("/embeded"))));
    return WaitUntil([&] { return loaded; }, 30000) && ok;
  }
  QString Eval(const QString& script) {
    auto value = EvalInPage(&page_, script);
    return value ? value->toString() : QStringLiteral("<no answer>");
  }
  QString Calls() { return Eval(QStringLiteral("window.calls ? window.calls.join(',') : ''")); }
  // Visitor 34 of company 12 writes.
  bool PostMessage(const std::string& text) {
    auto client = service_.Client();
    if (!visitor_) visitor_ = AddVisitor(client, 12, 34);
    if (!visitor_) return false;
    auto posted =
        client.Post(visitor_->MessagesPath(), nlohmann::json{{"text", text}}.dump(), "application/json");
    return posted && posted->status == 201;
  }
  int Count(const char* selector) {
    return Eval(QStringLiteral("String(document.querySelectorAll('%1').length)").arg(QLatin1String(selector)))
        .toInt();
  }
  bool Listed(const char* selector, int n) {
    return WaitUntil([&] { return Count(selector) >= n; }, 10000);
  }
  QString Text(const char* id) {
    return Eval(QStringLiteral("document.getElementById('%1').textContent").arg(QLatin1String(id)));
  }

  DemoService service_;
  std::optional<Visitor> visitor_;
  QWebEnginePage page_;
};

TEST_F(AgentPageTest, WithoutTheProgramItSaysNotEmbedded) {
  ASSERT_TRUE(service_.Ok());
  ASSERT_TRUE(Load(false));
  EXPECT_TRUE(Text("embedded").contains("not embedded"));
  Eval(QStringLiteral("document.getElementById('maximize').click(); 0"));
  EXPECT_TRUE(Text("status").startsWith("not embedded"));
}

TEST_F(AgentPageTest, EveryButtonReachesItsCallAndCaptureTakesTheChosenConversation) {
  ASSERT_TRUE(service_.Ok());
  ASSERT_TRUE(PostMessage("你好"));
  auto client = service_.Client();
  ASSERT_TRUE(AddVisitor(client, 7, -5));  // newer, so listed first
  ASSERT_TRUE(Load(true));
  EXPECT_TRUE(Text("embedded").startsWith("embeded: true"));
  ASSERT_TRUE(Listed("#conversations li", 2));
  // No conversation chosen: no capture.
  Eval(QStringLiteral("document.getElementById('capture').click(); 0"));
  EXPECT_EQ(Calls(), QString());
  Eval(
      QStringLiteral("document.getElementById('maximize').click();"
                     "document.getElementById('notify').click();"
                     "document.querySelectorAll('#conversations li')[0].click();"
                     "document.getElementById('capture').click();"
                     "document.querySelectorAll('#conversations li')[1].click();"
                     "document.getElementById('capture').click();"
                     "document.getElementById('quit').click(); 0"));
  EXPECT_EQ(Calls(),
            QStringLiteral("maxmize,notify|Ostrel|你好,capture|7|-5|number,capture|12|34|number,quit"));
}

TEST_F(AgentPageTest, VisitorMessagesRaiseABalloonOnlyWhileHidden) {
  ASSERT_TRUE(service_.Ok());
  ASSERT_TRUE(PostMessage("早先的消息"));  // history: listed, no balloon
  ASSERT_TRUE(Load(true));
  page_.setVisible(true);
  ASSERT_TRUE(Listed("#conversations li", 1));
  ASSERT_TRUE(WaitUntil([&] { return Eval(QStringLiteral("String(document.hidden)")) == "false"; }, 5000));
  ASSERT_TRUE(PostMessage("看得见的时候"));
  ASSERT_TRUE(WaitUntil([&] { return Text("conversations").contains("看得见的时候"); }, 5000));
  EXPECT_EQ(Calls(), QString());

  page_.setVisible(false);
  ASSERT_TRUE(WaitUntil([&] { return Eval(QStringLiteral("String(document.hidden)")) == "true"; }, 5000));
  ASSERT_TRUE(PostMessage("窗口隐藏时"));
  EXPECT_TRUE(WaitUntil([&] { return !Calls().isEmpty(); }, 5000));
  EXPECT_EQ(Calls(), QStringLiteral("notify|新消息|窗口隐藏时"));
  EXPECT_EQ(Eval(QStringLiteral("document.querySelector('#conversations .unread').textContent")),
            QStringLiteral("3"));
}

TEST_F(AgentPageTest, TheChosenConversationShowsItsMessagesAndTakesReplies) {
  ASSERT_TRUE(service_.Ok());
  ASSERT_TRUE(PostMessage("请问订单 42"));
  ASSERT_TRUE(Load(true));
  page_.setVisible(true);
  ASSERT_TRUE(Listed("#conversations li", 1));
  EXPECT_EQ(Text("conversations"), QStringLiteral("1访客 34（公司 12）请问订单 42"));
  Eval(QStringLiteral("document.querySelector('#conversations li').click(); 0"));
  ASSERT_TRUE(WaitUntil([&] { return Text("messages").contains("请问订单 42"); }, 5000));
  // Read once shown: the count goes.
  EXPECT_TRUE(WaitUntil([&] { return Count("#conversations .unread") == 0; }, 5000));

  // Enter in the reply box sends the reply into the conversation.
  Eval(
      QStringLiteral("var box = document.getElementById('reply-text'); box.value = '马上为您查询';"
                     "box.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter', keyCode: 13})); 0"));
  ASSERT_TRUE(WaitUntil([&] { return Text("messages").contains("马上为您查询"); }, 5000));
  EXPECT_EQ(Eval(QStringLiteral("document.getElementById('reply-text').value")), QString());
  auto listing = service_.Client().Get(visitor_->MessagesPath());
  ASSERT_TRUE(listing);
  EXPECT_NE(listing->body.find(R"("from":"agent","id":2,"text":"马上为您查询")"), std::string::npos)
      << listing->body;

  // A capture sent for it appears in it; onFileSent says how it went.
  std::string image = MakeImage(service_.Dir().File("shot.jpg"), 64, 48, "red");
  ASSERT_FALSE(image.empty());
  auto uploaded = service_.Client().Post("/resource/staff/image", UploadForm("12", "34", image));
  ASSERT_TRUE(uploaded && uploaded->status == 200);
  EXPECT_TRUE(WaitUntil(
      [&] {
        return Eval(QStringLiteral("String(document.querySelector('#messages img') ? "
                                   "document.querySelector('#messages img').naturalWidth : 0)")) == "64";
      },
      10000));
  Eval(
      QStringLiteral("onFileSent(%1); 0").arg(QString::fromStdString(nlohmann::json(uploaded->body).dump())));
  EXPECT_EQ(Text("status"), QStringLiteral("截图已发送（64×48）"));
  Eval(QStringLiteral("onFileSent(''); 0"));
  EXPECT_EQ(Text("status"), QStringLiteral("截图未发送"));
}

}  // namespace
}  // namespace parlex::test
