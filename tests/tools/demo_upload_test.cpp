// The demo service's image endpoint: what it stores and answers for good
// uploads (from httplib and from the program's own upload command), that the
// image lands in its visitor's conversation, that bad input stores nothing,
// and that uploads at once do not mix.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "demo_service_runner.h"
#include "support/test_files.h"

namespace parlex::test {
namespace {

using nlohmann::json;

constexpr size_t kLimit = 20u << 20;

TEST(DemoUpload, JpegAndPngStoredWithTheirSizeAndServedBack) {
  DemoService service;
  ASSERT_TRUE(service.Ok());
  auto client = service.Client();
  auto visitor = AddVisitor(client, 12, -34);
  ASSERT_TRUE(visitor);
  for (auto [format, width, height] : {std::tuple{"jpg", 37, 23}, {"png", 5, 300}}) {
    std::string image = MakeImage(service.Dir().File(std::string("in.") + format), width, height, "red");
    ASSERT_FALSE(image.empty()) << "convert (ImageMagick) made no image";
    auto reply = client.Post("/resource/staff/image", UploadForm("12", "-34", image));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200) << reply->body;
    json answer = json::parse(reply->body);
    EXPECT_EQ(answer["width"], width);
    EXPECT_EQ(answer["height"], height);
    EXPECT_EQ(answer["companyId"], 12);
    EXPECT_EQ(answer["visitorId"], -34);
    std::string url = answer["url"];
    ASSERT_EQ(url.rfind("/uploads/", 0), 0u) << url;
    std::string name = url.substr(9);
    EXPECT_EQ(name.substr(name.size() - 4), std::string(".") + format);
    EXPECT_EQ(TempDir::Read(service.DataDir() / name), image);
    auto back = client.Get(url);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->status, 200);
    EXPECT_EQ(back->get_header_value("Content-Type"),
              format == std::string("jpg") ? "image/jpeg" : "image/png");
    EXPECT_EQ(back->body, image);
    // The visitor finds it in the conversation, as the agent's message.
    auto got = client.Get(visitor->MessagesPath());
    ASSERT_TRUE(got);
    json seen = json::parse(got->body, nullptr, false);
    ASSERT_TRUE(seen.is_object()) << got->body;
    const json& last = seen["messages"].back();
    EXPECT_EQ(last["from"], "agent");
    EXPECT_EQ(last["image"], (json{{"url", url}, {"width", width}, {"height", height}}));
  }
  EXPECT_EQ(service.StoredNames().size(), 2u);
}

TEST(DemoUpload, BadInputGetsAnErrorAndStoresNothing) {
  DemoService service;
  ASSERT_TRUE(service.Ok());
  auto client = service.Client();
  auto visitor = AddVisitor(client, 1, 2);
  ASSERT_TRUE(visitor);
  const std::string jpeg = TinyJpeg();
  // A JPEG header that reads well, padded beyond the limit.
  std::string overLimit =
      jpeg.substr(0, jpeg.size() - 2) + std::string(kLimit + 1 - jpeg.size(), '\0') + "\xFF\xD9";
  std::string pngZeroWidth =
      std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\0\0\0\0\0\x05", 24) + std::string(9, '\0');
  std::string jpegWithoutFrame = jpeg.substr(0, 100);  // cut before its frame header
  struct Case {
    const char* what;
    httplib::MultipartFormDataItems form;
    int status;
  } cases[] = {
      {"no companyId", {{"visitorId", "1", "", ""}, {"upload", jpeg, "a.jpg", "image/jpeg"}}, 400},
      {"no visitorId", {{"companyId", "1", "", ""}, {"upload", jpeg, "a.jpg", "image/jpeg"}}, 400},
      {"no upload", {{"companyId", "1", "", ""}, {"visitorId", "2", "", ""}}, 400},
      {"upload not a file",
       {{"companyId", "1", "", ""}, {"visitorId", "2", "", ""}, {"upload", jpeg, "", ""}},
       400},
      {"two companyIds",
       [&] {
         auto f = UploadForm("1", "2", jpeg);
         f.push_back({"companyId", "3", "", ""});
         return f;
       }(),
       400},
      {"companyId 12a", UploadForm("12a", "2", jpeg), 400},
      {"visitorId 1.5", UploadForm("1", "1.5", jpeg), 400},
      {"visitorId empty", UploadForm("1", "", jpeg), 400},
      {"companyId too large", UploadForm("2147483648", "1", jpeg), 400},
      {"companyId with space", UploadForm(" 1", "1", jpeg), 400},
      {"no such visitor", UploadForm("1", "3", jpeg), 404},
      {"no such company", UploadForm("2", "2", jpeg), 404},
      {"text file", UploadForm("1", "2", "hello, this is no image"), 415},
      {"empty file", UploadForm("1", "2", ""), 415},
      {"JPEG without frame header", UploadForm("1", "2", jpegWithoutFrame), 415},
      {"PNG of width 0", UploadForm("1", "2", pngZeroWidth), 415},
      {"one byte over 20 MiB", UploadForm("1", "2", overLimit), 413},
      {"far over 20 MiB", UploadForm("1", "2", overLimit + std::string(2u << 20, 'x')), 413},
  };
  ASSERT_EQ(overLimit.size(), kLimit + 1);
  for (const Case& c : cases) {
    auto reply = client.Post("/resource/staff/image", c.form);
    ASSERT_TRUE(reply) << c.what;
    EXPECT_EQ(reply->status, c.status) << c.what << ": " << reply->body;
    json answer = json::parse(reply->body, nullptr, false);
    EXPECT_TRUE(answer.is_object() && answer.contains("error")) << c.what << ": " << reply->body;
  }
  auto notMultipart = client.Post("/resource/staff/image", "companyId=1&visitorId=2&upload=x",
                                  "application/x-www-form-urlencoded");
  ASSERT_TRUE(notMultipart);
  EXPECT_EQ(notMultipart->status, 400);
  EXPECT_EQ(service.StoredNames(), std::vector<std::string>{});
  auto messages = client.Get(visitor->MessagesPath());
  ASSERT_TRUE(messages);
  EXPECT_EQ(messages->body, R"({"messages":[]})");

  // Exactly at the limit is still taken.
  std::string atLimit = overLimit.substr(0, kLimit - 2) + "\xFF\xD9";
  auto reply = client.Post("/resource/staff/image", UploadForm("1", "2", atLimit));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200) << reply->body;
  EXPECT_EQ(service.StoredNames().size(), 1u);
}

TEST(DemoUpload, TwoUploadsAtOnceAreKeptApart) {
  DemoService service;
  ASSERT_TRUE(service.Ok());
  auto client = service.Client();
  ASSERT_TRUE(AddVisitor(client, 0, 7));
  ASSERT_TRUE(AddVisitor(client, 1, 7));
  // Two connections, each sending half its request before the other starts
  // its second half: the service has both open at once.
  std::string images[2] = {MakeImage(service.Dir().File("a.jpg"), 300, 200, "red"),
                           MakeImage(service.Dir().File("b.jpg"), 20, 640, "blue")};
  ASSERT_FALSE(images[0].empty());
  ASSERT_FALSE(images[1].empty());
  std::string requests[2];
  for (int i = 0; i < 2; ++i) {
    std::string body = "--B\r\nContent-Disposition: form-data; name=\"companyId\"\r\n\r\n" +
                       std::to_string(i) +
                       "\r\n--B\r\nContent-Disposition: form-data; name=\"visitorId\"\r\n\r\n7\r\n"
                       "--B\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"x.jpg\"\r\n"
                       "Content-Type: image/jpeg\r\n\r\n" +
                       images[i] + "\r\n--B--\r\n";
    requests[i] =
        "POST /resource/staff/image HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=B\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  RawConnection a(service.Port()), b(service.Port());
  ASSERT_TRUE(a.Ok() && b.Ok());
  size_t half[2] = {requests[0].size() / 2, requests[1].size() / 2};
  ASSERT_TRUE(a.Send(std::string_view(requests[0]).substr(0, half[0])));
  ASSERT_TRUE(b.Send(std::string_view(requests[1]).substr(0, half[1])));
  ASSERT_TRUE(b.Send(std::string_view(requests[1]).substr(half[1])));
  ASSERT_TRUE(a.Send(std::string_view(requests[0]).substr(half[0])));
  std::string replies[2] = {a.ReadToClose(10000), b.ReadToClose(10000)};
  std::vector<std::string> names;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(replies[i].rfind("HTTP/1.1 200", 0), 0u) << replies[i];
    json answer = json::parse(replies[i].substr(replies[i].find("\r\n\r\n") + 4));
    EXPECT_EQ(answer["companyId"], i);
    EXPECT_EQ(answer["width"], i == 0 ? 300 : 20);
    std::string name = answer["url"].get<std::string>().substr(9);
    EXPECT_EQ(TempDir::Read(service.DataDir() / name), images[i]);
    names.push_back(name);
  }
  EXPECT_NE(names[0], names[1]);
  EXPECT_EQ(service.StoredNames().size(), 2u);
}

TEST(DemoUpload, TheProgramsUploadCommandStoresItsJpeg) {
  DemoService service;
  ASSERT_TRUE(service.Ok());
  auto client = service.Client();
  ASSERT_TRUE(AddVisitor(client, 12, 34));
  auto file = service.Dir().File("ostrelscreenshottmp.jpg");
  std::string image = MakeImage(file, 123, 45, "green");
  ASSERT_FALSE(image.empty());
  RunResult run = RunProgram(
      PARLEX_UPLOAD, {PARLEX_UPLOAD, service.Url("/resource/staff/image"), file.string(), "12", "34"}, 30000);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  json answer = json::parse(run.output, nullptr, false);
  ASSERT_TRUE(answer.is_object()) << run.output;
  EXPECT_EQ(answer["width"], 123);
  EXPECT_EQ(answer["height"], 45);
  EXPECT_EQ(answer["companyId"], 12);
  EXPECT_EQ(answer["visitorId"], 34);
  auto names = service.StoredNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ("/uploads/" + names[0], answer["url"]);
  EXPECT_EQ(TempDir::Read(service.DataDir() / names[0]), image);
  auto [code, log] = service.Stop();
  EXPECT_EQ(code, 0);
  EXPECT_NE(log.find("POST /resource/staff/image 200\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace parlex::test
