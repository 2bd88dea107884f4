// The demo service's agent page in Qt WebEngine, as the program shows it:
// without the program's external object it says so; with one, each button
// reaches its call, a visitor's message raises a balloon only while the page
// is hidden, and onFileSent shows the service's reply with its image.
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
  bool PostMessage(const std::string& text) {
    auto posted =
        service_.Client().Post("/messages", nlohmann::json{{"text", text}}.dump(), "application/json");
    return posted && posted->status == 201;
  }

  DemoService service_;
  QWebEnginePage page_;
};

TEST_F(AgentPageTest, WithoutTheProgramItSaysNotEmbedded) {
  ASSERT_TRUE(service_.Ok());
  ASSERT_TRUE(Load(false));
  EXPECT_TRUE(
      Eval(QStringLiteral("document.getElementById('embedded').textContent")).contains("not embedded"));
  Eval(QStringLiteral("document.getElementById('capture').click(); 0"));
  EXPECT_TRUE(
      Eval(QStringLiteral("document.getElementById('status').textContent")).startsWith("not embedded"));
}

TEST_F(AgentPageTest, EveryButtonReachesItsCall) {
  ASSERT_TRUE(service_.Ok());
  ASSERT_TRUE(Load(true));
  EXPECT_TRUE(
      Eval(QStringLiteral("document.getElementById('embedded').textContent")).startsWith("embeded: true"));
  Eval(
      QStringLiteral("document.getElementById('maximize').click();"
                     "document.getElementById('notify').click();"
                     "document.getElementById('company').value = '-7';"
                     "document.getElementById('capture').click();"
                     "document.getElementById('visitor').value = '3.5';"
                     "document.getElementById('capture').click();"  // not a whole number: no call
                     "document.getElementById('quit').click(); 0"));
  EXPECT_EQ(Calls(), QStringLiteral("maxmize,notify|Ostrel|你好,capture|-7|34|number,quit"));
}

TEST_F(AgentPageTest, VisitorMessagesRaiseABalloonOnlyWhileHidden) {
  ASSERT_TRUE(service_.Ok());
  ASSERT_TRUE(PostMessage("早先的消息"));  // history: shown, no balloon
  ASSERT_TRUE(Load(true));
  page_.setVisible(true);
  auto listed = [&](int n) {
    return WaitUntil(
        [&] { return Eval(QStringLiteral("document.querySelectorAll('#messages li').length")).toInt() >= n; },
        10000);
  };
  ASSERT_TRUE(listed(1));
  ASSERT_TRUE(WaitUntil([&] { return Eval(QStringLiteral("String(document.hidden)")) == "false"; }, 5000));
  ASSERT_TRUE(PostMessage("看得见的时候"));
  ASSERT_TRUE(listed(2));
  EXPECT_EQ(Calls(), QString());

  page_.setVisible(false);
  ASSERT_TRUE(WaitUntil([&] { return Eval(QStringLiteral("String(document.hidden)")) == "true"; }, 5000));
  ASSERT_TRUE(PostMessage("窗口隐藏时"));
  EXPECT_TRUE(WaitUntil([&] { return !Calls().isEmpty(); }, 10000));
  EXPECT_EQ(Calls(), QStringLiteral("notify|新消息|窗口隐藏时"));
  EXPECT_TRUE(Eval(QStringLiteral("document.getElementById('messages').textContent")).contains("窗口隐藏时"));
}

TEST_F(AgentPageTest, OnFileSentShowsTheReplyAndTheStoredImage) {
  ASSERT_TRUE(service_.Ok());
  std::string image = MakeImage(service_.Dir().File("shot.jpg"), 64, 48, "red");
  ASSERT_FALSE(image.empty());
  auto uploaded = service_.Client().Post("/resource/staff/image", UploadForm("12", "34", image));
  ASSERT_TRUE(uploaded && uploaded->status == 200);
  const QString reply = QString::fromStdString(uploaded->body);
  ASSERT_TRUE(Load(true));

  QString quoted = QString::fromStdString(nlohmann::json(uploaded->body).dump());
  Eval(QStringLiteral("onFileSent(%1); 0").arg(quoted));
  EXPECT_EQ(Eval(QStringLiteral("document.getElementById('reply').textContent")), reply);
  // The image is the one the service stored, fetched from it.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return Eval(QStringLiteral("String(document.getElementById('reply-image').naturalWidth)")) == "64";
      },
      10000));
  EXPECT_EQ(Eval(QStringLiteral("String(document.getElementById('reply-image').naturalHeight)")),
            QStringLiteral("48"));

  // A failed upload hands the page the empty text.
  Eval(QStringLiteral("onFileSent(''); 0"));
  EXPECT_EQ(Eval(QStringLiteral("document.getElementById('reply').textContent")),
            QStringLiteral("（空回复：上传失败）"));
  EXPECT_EQ(Eval(QStringLiteral("document.getElementById('reply-image').style.display")),
            QStringLiteral("none"));
}

}  // namespace
}  // namespace parlex::test
