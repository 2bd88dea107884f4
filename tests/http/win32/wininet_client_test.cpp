#include <gtest/gtest.h>

#include <cstdio>

#include "http/generic_http_client.h"
#include "http/http_test_files.h"
#include "http/loopback_server.h"
#include "http/win32/wininet_transport.h"

namespace parlex {
namespace {
using test::LoopbackServer;
using test::ScriptedReply;

void Dump(const char* what, const std::string& s) {
  std::printf("---- %s (%zu bytes)\n", what, s.size());
  for (unsigned char c : s) {
    if (c == '\r') std::printf("\\r");
    else if (c == '\n') std::printf("\\n\n");
    else if (c < 32 || c > 126) std::printf("\\x%02X", c);
    else std::printf("%c", c);
  }
  std::printf("\n");
}

TEST(Probe, Wire) {
  test::TempFile jpeg(u"ostrelscreenshottmp.jpg", test::TinyJpeg());
  LoopbackServer server(std::vector<ScriptedReply>{ScriptedReply::Text("ok"), ScriptedReply::Text("root"), ScriptedReply::Text("form"), ScriptedReply::Text("mp")});
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client;
  EXPECT_TRUE(client.Execute(server.Url(u"/get?x=1"), reqGet, u"OstrelAgent")) << client.LastError();
  Dump("get", server.Received(0));
  EXPECT_TRUE(client.Execute(server.Url(u""), reqGet, u"OstrelAgent")) << client.LastError();
  Dump("root", server.Received(1));
  client.AddField(u"a", 1);
  client.AddField(u"b", 2);
  EXPECT_TRUE(client.Execute(server.Url(u"/form"), reqFormPost, u"OstrelAgent")) << client.LastError();
  Dump("form", server.Received(2));
  client.ClearFields();
  client.AddField(u"companyId", 1001);
  client.AddField(u"visitorId", -1);
  client.AddField(u"upload", jpeg.Path(), true);
  EXPECT_TRUE(client.Execute(server.Url(u"/resource/staff/image"), reqMultipartPost, u"OstrelAgent")) << client.LastError();
  Dump("mp", server.Received(3));
  Dump("reply headers", ToUtf8(client.GetReplyHeaders()));
  std::printf("open handles %ld\n", win32::WinInetTransport::OpenHandleCount());
}

TEST(Probe, Never) {
  LoopbackServer server(ScriptedReply::Never());
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client;
  client.SetTimeouts({1000, 500});
  auto t0 = GetTickCount();
  EXPECT_FALSE(client.Execute(server.Url(u"/never"), reqGet, u"A"));
  std::printf("never: %lu ms, error %u\n", GetTickCount() - t0, client.LastError());
  t0 = GetTickCount();
  EXPECT_FALSE(client.Execute(u"http://127.0.0.1:1/x", reqGet, u"A"));
  std::printf("refused: %lu ms, error %u\n", GetTickCount() - t0, client.LastError());
}
}  // namespace
}  // namespace parlex
