// The demo service's chat over its API, as the two pages use it: visitors
// and the agent write, waiting requests wake for the other side's message,
// visitors never see each other's conversation, bad input stores nothing,
// and the conversations and their images outlive a restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <nlohmann/json.hpp>
#include <string>

#include "demo_service_runner.h"
#include "support/test_files.h"

namespace parlex::test {
namespace {

using nlohmann::json;

json Get(httplib::Client& client, const std::string& path) {
  auto res = client.Get(path);
  if (!res || res->status != 200) return json();
  return json::parse(res->body, nullptr, false);
}

int Post(httplib::Client& client, const std::string& path, const std::string& body) {
  auto res = client.Post(path, body, "application/json");
  return res ? res->status : -1;
}

std::string Texts(const json& listing) {
  std::string texts;
  for (const json& m : listing["messages"])
    texts += m["from"].get<std::string>() + ":" + m["text"].get<std::string>() + ";";
  return texts;
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::string AgentPath(const Visitor& v, const std::string& tail = "/messages") {
  return "/api/conversations/" + std::to_string(v.companyId) + "/" + std::to_string(v.visitorId) + tail;
}

TEST(DemoChat, VisitorsAndTheAgentTalkLiveAndApart) {
  DemoService service;
  ASSERT_TRUE(service.Ok());
  auto client = service.Client();
  auto a = AddVisitor(client, 12);
  auto b = AddVisitor(client, 12);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->visitorId, 1);
  EXPECT_EQ(b->visitorId, 2);
  EXPECT_NE(a->token, b->token);

  ASSERT_EQ(Post(client, a->MessagesPath(), R"({"text":"你好"})"), 201);
  ASSERT_EQ(Post(client, b->MessagesPath(), R"({"text":"B 的订单"})"), 201);
  ASSERT_EQ(Post(client, b->MessagesPath(), R"({"text":"还在吗"})"), 201);

  // The agent's list: newest activity first, with what it has not read.
  json list = Get(client, "/api/conversations");
  ASSERT_EQ(list["conversations"].size(), 2u) << list.dump();
  EXPECT_EQ(list["conversations"][0]["visitorId"], 2);
  EXPECT_EQ(list["conversations"][0]["unread"], 2);
  EXPECT_EQ(list["conversations"][0]["lastText"], "还在吗");
  EXPECT_EQ(list["conversations"][1]["visitorId"], 1);
  EXPECT_EQ(list["conversations"][1]["unread"], 1);

  // A's page waits for news; the agent's reply wakes it, long before the
  // wait's own bound.
  auto waiting = std::async(std::launch::async, [&] {
    auto own = service.Client();
    return Get(own, a->MessagesPath() + "&after=1&wait=1");
  });
  // The agent's list waits as well, for the reply's change.
  auto listWaiting = std::async(std::launch::async, [&] {
    auto own = service.Client();
    return Get(own, "/api/conversations?since=" + std::to_string(list["version"].get<uint64_t>()));
  });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  ASSERT_EQ(Post(client, AgentPath(*a), R"({"text":"您好，请稍等"})"), 201);
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(Texts(waiting.get()), "agent:您好，请稍等;");
  ASSERT_EQ(listWaiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(listWaiting.get()["conversations"][0]["visitorId"], 1);

  // A capture for A reaches A only.
  std::string image = MakeImage(service.Dir().File("shot.png"), 40, 30, "red");
  ASSERT_FALSE(image.empty());
  auto sent = client.Post("/resource/staff/image", UploadForm("12", "1", image, "shot.png"));
  ASSERT_TRUE(sent && sent->status == 200);
  json aSees = Get(client, a->MessagesPath());
  EXPECT_EQ(Texts(aSees), "visitor:你好;agent:您好，请稍等;agent:;");
  EXPECT_EQ(aSees["messages"][2]["image"]["width"], 40);
  json bSees = Get(client, b->MessagesPath());
  EXPECT_EQ(Texts(bSees), "visitor:B 的订单;visitor:还在吗;");
  EXPECT_EQ(bSees.dump().find("/uploads/"), std::string::npos);

  // Neither reaches the other's conversation with its own token, nor
  // writes into it.
  Visitor forged = *a;
  forged.token = b->token;
  auto refused = client.Get(forged.MessagesPath());
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 404);
  EXPECT_EQ(refused->body.find("你好"), std::string::npos);
  EXPECT_EQ(Post(client, forged.MessagesPath(), R"({"text":"冒充"})"), 404);
  forged.token = "";
  EXPECT_EQ(Post(client, forged.MessagesPath(), R"({"text":"冒充"})"), 404);
  EXPECT_EQ(Texts(Get(client, AgentPath(*a))), "visitor:你好;agent:您好，请稍等;agent:;");

  // Read: the unread count goes to 0 and stays there for the agent's reply.
  EXPECT_EQ(Post(client, AgentPath(*b, "/read"), "{}"), 200);
  EXPECT_EQ(Get(client, "/api/conversations")["conversations"][1]["unread"], 0);

  // The request log names the requests, never a visitor's secret.
  auto [code, log] = service.Stop();
  EXPECT_EQ(code, 0);
  EXPECT_NE(log.find("GET /api/visitors/12/1/messages?token=*&after=1&wait=1 200\n"), std::string::npos)
      << log;
  EXPECT_EQ(log.find(a->token), std::string::npos);
  EXPECT_EQ(log.find(b->token), std::string::npos);
}

TEST(DemoChat, BadInputGetsAJsonErrorAndStoresNothing) {
  DemoService service;
  ASSERT_TRUE(service.Ok());
  auto client = service.Client();
  auto v = AddVisitor(client, 5, 6);
  ASSERT_TRUE(v);
  EXPECT_FALSE(AddVisitor(client, 5, 6)) << "an existing visitor taken twice";
  const std::string own = v->MessagesPath();
  const std::string agent = AgentPath(*v);
  struct Case {
    const char* what;
    std::string path;
    std::string body;
    int status;
  } cases[] = {
      {"empty", own, R"({"text":""})", 400},
      {"blank", agent, R"({"text":" \n\t "})", 400},
      {"over 4 KiB", own, json{{"text", std::string(4097, 'a')}}.dump(), 413},
      {"1366 characters, 4098 bytes", agent, json{{"text", Repeat("你", 1366)}}.dump(), 413},
      {"not a string", own, R"({"text":7})", 400},
      {"no text", agent, R"({"words":"x"})", 400},
      {"bad JSON", own, R"({"text":"x")", 400},
      {"no object", agent, R"(["x"])", 400},
      {"huge body", agent, std::string(1 << 20, '['), 413},
      {"unknown conversation", "/api/conversations/5/7/messages", R"({"text":"x"})", 404},
      {"unknown company", "/api/conversations/6/6/read", "{}", 404},
      {"id not whole", "/api/conversations/5/6.0/messages", R"({"text":"x"})", 400},
      {"id too large", "/api/conversations/5/2147483648/messages", R"({"text":"x"})", 400},
      {"id with letters", "/api/visitors/5x/6/messages?token=" + v->token, R"({"text":"x"})", 400},
      {"visitor without id", "/api/visitors", R"({"visitorId":9})", 400},
      {"visitor id as text", "/api/visitors", R"({"companyId":"5"})", 400},
      {"visitor id fraction", "/api/visitors", R"({"companyId":5,"visitorId":1.5})", 400},
      {"visitor bad JSON", "/api/visitors", "{", 400},
  };
  // Four thousand and ninety-six bytes exactly is still one message.
  ASSERT_EQ(Post(client, own, json{{"text", std::string(4096, 'a')}}.dump()), 201);
  for (const Case& c : cases) {
    auto res = client.Post(c.path, c.body, "application/json");
    ASSERT_TRUE(res) << c.what;
    EXPECT_EQ(res->status, c.status) << c.what << ": " << res->body;
    json error = json::parse(res->body, nullptr, false);
    EXPECT_TRUE(error.is_object() && error["error"].is_string()) << c.what << ": " << res->body;
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json; charset=utf-8") << c.what;
  }
  for (const char* query : {"?after=abc", "?after=-1", "?after=+1", "?after=99999999999"}) {
    auto res = client.Get(agent + query);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400) << query;
  }
  auto since = client.Get("/api/conversations?since=x");
  ASSERT_TRUE(since);
  EXPECT_EQ(since->status, 400);

  json list = Get(client, "/api/conversations");
  ASSERT_EQ(list["conversations"].size(), 1u) << list.dump();
  EXPECT_EQ(list["conversations"][0]["unread"], 1);
  ASSERT_EQ(Get(client, agent)["messages"].size(), 1u);
  EXPECT_EQ(service.StoredNames(), std::vector<std::string>{});
}

TEST(DemoChat, ARestartKeepsTheConversationAndItsImage) {
  DemoService service;
  ASSERT_TRUE(service.Ok());
  auto client = service.Client();
  auto v = AddVisitor(client, 12);
  ASSERT_TRUE(v);
  ASSERT_EQ(Post(client, v->MessagesPath(), R"({"text":"你好"})"), 201);
  std::string image = MakeImage(service.Dir().File("shot.jpg"), 64, 48, "blue");
  ASSERT_FALSE(image.empty());
  auto sent = client.Post("/resource/staff/image", UploadForm("12", "1", image));
  ASSERT_TRUE(sent && sent->status == 200);
  const std::string url = json::parse(sent->body)["url"];

  ASSERT_TRUE(service.Restart());
  auto again = service.Client();
  json seen = Get(again, v->MessagesPath());
  EXPECT_EQ(Texts(seen), "visitor:你好;agent:;");
  EXPECT_EQ(seen["messages"][1]["image"]["url"], url);
  auto back = again.Get(url);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->body, image);
  EXPECT_EQ(Get(again, "/api/conversations")["conversations"][0]["unread"], 1);
  // Numbers go on from where they were: a new visitor is no old one again.
  auto next = AddVisitor(again, 12);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->visitorId, 2);
  ASSERT_EQ(Post(again, AgentPath(*v), R"({"text":"还在"})"), 201);
  EXPECT_EQ(Get(again, v->MessagesPath() + "&after=2")["messages"][0]["id"], 3);

  // A database that cannot be opened: one line naming it, exit code 1.
  auto [code, log] = service.Stop();
  EXPECT_EQ(code, 0);
  TempDir broken("demo-broken");
  ASSERT_TRUE(broken.Ok());
  broken.Write("chat.sqlite3", std::string(4096, 'x'));
  RunResult run = RunProgram("/bin/sh",
                             {"sh", "-c", "exec \"$0\" --port 0 --data-dir \"$1\" 2>&1", PARLEX_DEMO_SERVICE,
                              broken.Path().string()},
                             10000);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output.find("parlex-demo-service: cannot open the database " +
                            broken.File("chat.sqlite3").string()),
            0u)
      << run.output;
  EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
  EXPECT_EQ(TempDir::Read(broken.File("chat.sqlite3")), std::string(4096, 'x'));
}

}  // namespace
}  // namespace parlex::test
