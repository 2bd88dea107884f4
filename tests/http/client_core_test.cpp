// The client's steps against a transport that records them: the sequence,
// flags and add modes the WinINet transport receives, the reply rules and the
// clean-up on every path.
#include <gtest/gtest.h>

#include "http/generic_http_client.h"
#include "http/memory_transport.h"

namespace parlex {
namespace {

using test::MemoryTransport;

const char kOkHead[] = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

struct Session {
  MemoryTransport::Log log;
  GenericHTTPClient client;
  explicit Session(MemoryTransport::Script script)
      : client(std::make_unique<MemoryTransport>(std::move(script), &log), test::FakeMimeTypes) {}
  explicit Session(std::string reply) : Session(MemoryTransport::MakeScript(std::move(reply))) {}
};

std::vector<std::string> Closing() { return {"CloseRequest", "CloseConnection", "CloseRoot"}; }

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ClientSteps, MultipartUpload) {
  Session run(std::string(kOkHead) + "{\"ok\":1}");
  run.client.AddField(u"companyId", 3);
  EXPECT_TRUE(run.client.Execute(u"http://h/resource/staff/image", reqMultipartPost, u"OstrelAgent"));
  const std::string body =
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\nContent-Disposition: form-data; name=\"companyId\"\r\n\r\n3\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  EXPECT_EQ(run.log.body, body);
  EXPECT_EQ(body.size(), 129u);
  EXPECT_EQ(
      run.log.steps,
      Join({"Open OstrelAgent 10000 30000", "Connect h 80 0x04400000", "AttemptConnect",
            "OpenRequest POST '/resource/staff/image' (none) 0x04400040",
            "AddHeaders Accept: */*\r\n|13 0x20000000",
            "AddHeaders Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n|78 "
            "0x10000000",
            "AddHeaders Content-Length: 129\r\n|21 0x10000000", "BeginSend",
            "Write " + std::to_string(body.size()), "EndSend", "QueryRawHeaders 65536"},
           Closing()));
  EXPECT_EQ(run.client.GetReplyText(), u"{\"ok\":1}");
  EXPECT_EQ(run.client.GetReplyHeaders(), u"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
  EXPECT_EQ(run.log.open, 0);
}

TEST(ClientSteps, GetAndFormPost) {
  Session get(std::string(kOkHead) + "g");
  EXPECT_TRUE(get.client.Execute(u"h:8080", reqGet, u"A"));
  EXPECT_EQ(get.log.steps,
            Join({"Open A 10000 30000", "Connect h 8080 0x04400000", "AttemptConnect",
                  "OpenRequest GET '' [*/*] 0x04400000", "AddHeaders Accept: */*\r\n|13 0x80000000",
                  "Send |0 0", "QueryRawHeaders 65536"},
                 Closing()));
  // Any kind other than 2 and 3 is a GET.
  Session other(std::string(kOkHead) + "g");
  EXPECT_TRUE(other.client.Execute(u"h/x", 77, u"A"));
  EXPECT_EQ(other.log.steps[3], "OpenRequest GET '/x' [*/*] 0x04400000");

  Session form(std::string(kOkHead) + "f");
  form.client.AddField(u"a", 1);
  form.client.AddField(u"b", u"二", false);
  EXPECT_TRUE(form.client.Execute(u"http://h/form", reqFormPost, u"A"));
  EXPECT_EQ(form.log.steps[3], "OpenRequest POST '/form' [*/*] 0x04400040");
  EXPECT_EQ(form.log.steps[4], "AddHeaders Accept: */*\r\n|13 0x80000000");
  EXPECT_EQ(form.log.steps[5], "Send Content-Type: application/x-www-form-urlencoded\r\n|49 9");
  EXPECT_EQ(form.log.body, "a=1&b=\xE4\xBA\x8C");
}

TEST(ClientSteps, HttpsAsksForTlsAndTimeoutsAreInjected) {
  Session run(std::string(kOkHead) + "s");
  run.client.SetTimeouts({250, 400});
  EXPECT_TRUE(run.client.Execute(u"https://h/a", reqMultipartPost, u"A"));
  EXPECT_EQ(run.log.steps[0], "Open A 250 400");
  EXPECT_EQ(run.log.steps[1], "Connect h 443 0x04C00000");
  EXPECT_EQ(run.log.steps[3], "OpenRequest POST '/a' (none) 0x04C00040");
  // A capitalised scheme is not "https": port 80, no TLS.
  Session caps(std::string(kOkHead) + "s");
  EXPECT_TRUE(caps.client.Execute(u"HTTPS://h/a", reqGet, u"A"));
  EXPECT_EQ(caps.log.steps[1], "Connect h 80 0x04400000");
}

TEST(ClientSteps, EveryFailureClosesWhatWasOpened) {
  struct Case {
    const char* failAt;
    std::vector<std::string> tail;  // the steps after the failing one
  };
  const Case cases[] = {
      {"Open", {}},
      {"Connect", {"CloseRoot"}},
      {"AttemptConnect", {"CloseConnection", "CloseRoot"}},
      {"OpenRequest", {"CloseConnection", "CloseRoot"}},
      {"AddHeaders", Closing()},
      {"BeginSend", Closing()},
      {"Write", Closing()},
      {"EndSend", Closing()},
      {"QueryRawHeaders", Closing()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failAt);
    Session run(MemoryTransport::MakeScript(std::string(kOkHead) + "body", 1 << 20, c.failAt, 12007));
    EXPECT_FALSE(run.client.Execute(u"http://h/p", reqMultipartPost, u"A"));
    EXPECT_EQ(run.client.LastError(), 12007u);
    EXPECT_EQ(run.client.GetReplyText(), u"");
    EXPECT_EQ(run.log.open, 0);
    ASSERT_GE(run.log.steps.size(), c.tail.size() + 1);
    std::vector<std::string> tail(run.log.steps.end() - static_cast<ptrdiff_t>(c.tail.size()),
                                  run.log.steps.end());
    EXPECT_EQ(tail, c.tail);
    EXPECT_EQ(run.log.steps[run.log.steps.size() - c.tail.size() - 1].rfind(c.failAt, 0), 0u);
  }
}

TEST(ClientSteps, RefusedBeforeAnyStep) {
  // Too long a URL, a port out of range, a URL-encoded text over its room.
  Session longUrl(std::string(kOkHead) + "x");
  EXPECT_FALSE(longUrl.client.Execute(u"http://h/" + std::u16string(1015, u'a'), reqGet, u"A"));
  EXPECT_TRUE(longUrl.log.steps.empty());
  Session noPort(std::string(kOkHead) + "x");
  EXPECT_FALSE(noPort.client.Execute(u"http://h:/x", reqGet, u"A"));
  EXPECT_FALSE(noPort.client.Execute(u"http://h:70000/x", reqGet, u"A"));
  EXPECT_TRUE(noPort.log.steps.empty());
  Session form(std::string(kOkHead) + "x");
  form.client.AddField(u"a", std::u16string(1022, u'v'), false);  // "a=" + 1022 units = 1024 > 1023
  EXPECT_FALSE(form.client.Execute(u"http://h/x", reqFormPost, u"A"));
  EXPECT_TRUE(form.log.steps.empty());
  EXPECT_EQ(form.client.LastError(), 122u);  // ERROR_INSUFFICIENT_BUFFER
  // The same URL that fits goes out.
  Session fits(std::string(kOkHead) + "x");
  EXPECT_TRUE(fits.client.Execute(u"http://h/" + std::u16string(1014, u'a'), reqGet, u"A"));
}

TEST(ClientReply, KeptBytesAndDecoding) {
  auto reply = [](const std::string& body, size_t chunk = 1 << 20) {
    Session run(MemoryTransport::MakeScript(std::string(kOkHead) + body, chunk));
    bool ok = run.client.Execute(u"h/", reqGet, u"A");
    return std::make_pair(ok, std::u16string(run.client.GetReplyText()));
  };
  EXPECT_EQ(reply("\xE4\xB8\x8A\xE4\xBC\xA0\xE6\x88\x90\xE5\x8A\x9F"),
            std::make_pair(true, std::u16string(u"上传成功")));
  // Over 1024 bytes: the first 1024 are kept; 1023 units of them fit the text.
  std::string big;
  for (int i = 0; i < 1500; ++i) big += static_cast<char>('a' + i % 26);
  auto [ok, text] = reply(big, 100);
  EXPECT_TRUE(ok);
  EXPECT_EQ(text, std::u16string(big.begin(), big.begin() + 1023));
  // A character cut by the 1024-byte end is dropped whole, not turned into U+FFFD.
  std::string zh = std::string(1022, 'x') + "\xE7\x99\xBB" + "tail";
  EXPECT_EQ(reply(zh).second, std::u16string(1022, u'x'));
  std::string astral = std::string(1021, 'x') + "\xF0\x9F\x98\x80";
  EXPECT_EQ(reply(astral).second, std::u16string(1021, u'x'));
  std::string fits = std::string(1020, 'x') + "\xF0\x9F\x98\x80";
  EXPECT_EQ(reply(fits).second, std::u16string(1020, u'x') + u"\U0001F600");
  // The text ends at the first zero byte.
  EXPECT_EQ(reply(std::string("ab\0cd", 5)), std::make_pair(true, std::u16string(u"ab")));
  // An empty body fails.
  EXPECT_FALSE(reply("").first);
}

TEST(ClientReply, ReadErrorKeepsWhatArrived) {
  MemoryTransport::Script script =
      MemoryTransport::MakeScript(std::string(kOkHead) + "hello world", 5, "Read", 12030, 5);
  Session run(script);
  EXPECT_TRUE(run.client.Execute(u"h/", reqGet, u"A"));
  EXPECT_EQ(run.client.GetReplyText(), u"hello");
  EXPECT_EQ(run.client.LastError(), 12030u);
  MemoryTransport::Script none =
      MemoryTransport::MakeScript(std::string(kOkHead) + "hello", 5, "Read", 12030, 0);
  Session nothing(none);
  EXPECT_FALSE(nothing.client.Execute(u"h/", reqGet, u"A"));
}

TEST(ClientReply, HeaderBlocksUpTo64KiB) {
  std::string head = "HTTP/1.0 200 OK\r\n";
  while (head.size() < 60000) head += "X-Filler: " + std::string(90, 'f') + "\r\n";
  Session large(head + "\r\nbody");
  EXPECT_TRUE(large.client.Execute(u"h/", reqGet, u"A"));
  EXPECT_EQ(large.client.GetReplyText(), u"body");
  EXPECT_EQ(large.client.GetReplyHeaders().size(), head.size() + 2);
  while (head.size() < 70000) head += "X-Filler: " + std::string(90, 'f') + "\r\n";
  Session tooLarge(head + "\r\nbody");
  EXPECT_FALSE(tooLarge.client.Execute(u"h/", reqGet, u"A"));
  EXPECT_EQ(tooLarge.log.open, 0);
}

TEST(ClientReply, SecondExecuteOnOneObject) {
  MemoryTransport::Log log;
  // One transport serves both requests; its script answers both the same way.
  GenericHTTPClient client(
      std::make_unique<MemoryTransport>(MemoryTransport::MakeScript(std::string(kOkHead) + "first"), &log),
      test::FakeMimeTypes);
  EXPECT_TRUE(client.Execute(u"h/", reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"first");
  EXPECT_EQ(std::count(log.steps.begin(), log.steps.end(), "CloseRoot"), 1);
  // The second request reopens everything; the script has nothing left to
  // answer, so it fails and the first text stays.
  EXPECT_FALSE(client.Execute(u"h/", reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"first");
  EXPECT_EQ(std::count(log.steps.begin(), log.steps.end(), "Open A 10000 30000"), 2);
  EXPECT_EQ(log.open, 0);
}

}  // namespace
}  // namespace parlex
