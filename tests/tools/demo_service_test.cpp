// The demo chat service as a real process: its pages, the update files, the
// request log, and nothing outside its folders ever served (the chat itself:
// demo_chat_test.cpp).
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "demo_service_runner.h"

namespace parlex::test {
namespace {

using nlohmann::json;
using namespace std::string_literals;

json Json(const httplib::Result& result) {
  return result ? json::parse(result->body, nullptr, false) : json();
}

TEST(DemoService, PagesCallEveryBridgeNameAndRequestsAreLogged) {
  DemoService service;
  ASSERT_TRUE(service.Ok());
  auto client = service.Client();

  auto agent = client.Get("/embeded");
  ASSERT_TRUE(agent);
  EXPECT_EQ(agent->status, 200);
  EXPECT_EQ(agent->get_header_value("Content-Type"), "text/html; charset=utf-8");
  for (const char* call :
       {"x.maxmize()", "x.quit()", "x.notify($('notify-title').value", "x.capture(c.companyId, c.visitorId)",
        "window.external.embeded == true", "function onFileSent(reply)", "window.external.notify('新消息'",
        "'/api/conversations'"}) {
    EXPECT_NE(agent->body.find(call), std::string::npos) << call;
  }
  auto visitor = client.Get("/visitor");
  ASSERT_TRUE(visitor);
  EXPECT_EQ(visitor->status, 200);
  EXPECT_NE(visitor->body.find("localStorage.setItem(storageKey()"), std::string::npos);

  auto missing = client.Get("/no-such-page");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  EXPECT_TRUE(Json(missing).contains("error"));

  auto [code, log] = service.Stop();
  EXPECT_EQ(code, 0);
  EXPECT_NE(log.find("GET /embeded 200\n"), std::string::npos) << log;
  EXPECT_NE(log.find("GET /visitor 200\n"), std::string::npos) << log;
  EXPECT_NE(log.find("GET /no-such-page 404\n"), std::string::npos) << log;
}

TEST(DemoService, UpdateFilesServedExactlyFromTheirFolderOnly) {
  TempDir updates("demo-updates");
  ASSERT_TRUE(updates.Ok());
  updates.Write("update.txt", "1.0.1.1");
  const std::string program = std::string("MZ\0\x01program", 10) + std::string(100000, 'x');
  updates.Write("Parlex.exe", program);
  updates.Write("Parlex.exe.sig", "signature");
  DemoService service({"--update-dir", updates.Path().string()});
  ASSERT_TRUE(service.Ok());
  auto client = service.Client();

  auto version = client.Get("/update/update.txt");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->status, 200);
  EXPECT_EQ(version->body, "1.0.1.1");
  auto exe = client.Get("/update/Parlex.exe");
  ASSERT_TRUE(exe);
  EXPECT_EQ(exe->status, 200);
  EXPECT_EQ(exe->body, program);
  auto sig = client.Get("/update/Parlex.exe.sig");
  ASSERT_TRUE(sig);
  EXPECT_EQ(sig->body, "signature");
  auto absent = client.Get("/update/parlex");
  ASSERT_TRUE(absent);
  EXPECT_EQ(absent->status, 404);

  // Without an update folder there are no update files at all.
  DemoService plain;
  ASSERT_TRUE(plain.Ok());
  auto none = plain.Client().Get("/update/update.txt");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, 404);
}

TEST(DemoService, NothingOutsideItsFoldersIsEverServed) {
  TempDir updates("demo-updates");
  ASSERT_TRUE(updates.Ok());
  updates.Write("update.txt", "1.0.1.1");
  DemoService service({"--update-dir", updates.Path().string()});
  ASSERT_TRUE(service.Ok());
  // A secret beside both folders, a hidden file and a link inside them.
  const std::string secret = "SECRET-NOT-TO-BE-SERVED";
  auto secretFile = service.Dir().Write("secret.txt", secret);
  updates.Write(".hidden", secret);
  std::filesystem::create_symlink(secretFile, updates.File("link.txt"));
  std::filesystem::create_symlink(secretFile, service.DataDir() / "link.jpg");

  for (std::string_view prefix : {"/uploads/", "/update/"}) {
    for (std::string_view tail :
         {"../secret.txt", "%2e%2e/secret.txt", "..%2fsecret.txt", "%2e%2e%2fsecret.txt", "..%5csecret.txt",
          "....//secret.txt", "%2fetc%2fpasswd", "..", "%2e%2e", ".hidden", "link.txt", "link.jpg",
          "../demo-updates/update.txt", "..%2f..%2f..%2f..%2f..%2f..%2fetc%2fpasswd", "%00update.txt"}) {
      std::string reply = service.Raw("GET " + std::string(prefix) + std::string(tail) + " HTTP/1.0\r\n\r\n");
      ASSERT_FALSE(reply.empty()) << prefix << tail;
      EXPECT_EQ(reply.find(secret), std::string::npos) << prefix << tail;
      EXPECT_EQ(reply.find("root:"), std::string::npos) << prefix << tail;
      EXPECT_TRUE(reply.rfind("HTTP/1.1 4", 0) == 0) << prefix << tail << ": " << reply.substr(0, 40);
    }
  }
  // Hostile bytes get an answer or a close, and the service lives on.
  for (const std::string& junk :
       {"\x00\xff\xfe garbage\r\n\r\n"s, std::string("GET ") + std::string(20000, 'a') + " HTTP/1.0\r\n\r\n",
        std::string("POST /resource/staff/image HTTP/1.0\r\nContent-Type: multipart/"
                    "form-data; boundary=x\r\nContent-Length: 12\r\n\r\n--x\r\n--y--\r\n"),
        std::string("POST /api/visitors HTTP/1.0\r\nContent-Length: 999999999999\r\n\r\n")}) {
    service.Raw(junk, 2000);
  }
  auto alive = service.Client().Get("/update/update.txt");
  ASSERT_TRUE(alive);
  EXPECT_EQ(alive->body, "1.0.1.1");
  EXPECT_EQ(service.StoredNames(), std::vector<std::string>{"link.jpg"});
  // The database beside the images is no image.
  auto database = service.Client().Get("/uploads/chat.sqlite3");
  ASSERT_TRUE(database);
  EXPECT_EQ(database->status, 404);
  EXPECT_EQ(database->body.find("SQLite"), std::string::npos);
}

}  // namespace
}  // namespace parlex::test
