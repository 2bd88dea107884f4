// The main window asks the chat service for the agent page: the request the
// browser control puts on the wire, caught by a loopback server.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "parlex_config.h"
#include "parlex_process.h"

namespace parlex::app::win32::testing {
namespace {

struct ChatAddress {
  std::string host;
  unsigned short port = 80;
  std::string path;  // ends in "/"
};

// "http://host[:port]/path/" of the configured chat service.
bool ParseChatAddress(ChatAddress& out) {
  std::string url = ToUtf8(PARLEX_CHAT_URL);
  const std::string scheme = "http://";
  if (url.compare(0, scheme.size(), scheme) != 0) return false;
  size_t slash = url.find('/', scheme.size());
  std::string authority = url.substr(scheme.size(), slash - scheme.size());
  out.path = slash == std::string::npos ? "/" : url.substr(slash);
  size_t colon = authority.find(':');
  out.host = authority.substr(0, colon);
  if (colon != std::string::npos)
    out.port = static_cast<unsigned short>(std::stoi(authority.substr(colon + 1)));
  return true;
}

class Winsock {
 public:
  Winsock() { ::WSAStartup(MAKEWORD(2, 2), &data_); }
  ~Winsock() { ::WSACleanup(); }

 private:
  WSADATA data_{};
};

struct Socket {
  SOCKET s = INVALID_SOCKET;
  ~Socket() {
    if (s != INVALID_SOCKET) ::closesocket(s);
  }
};

bool Readable(SOCKET s, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, &set, nullptr, nullptr, &wait) == 1;
}

TEST(PageRequest, TheMainWindowGetsTheAgentPageWithAPlainGet) {
  ChatAddress address;
  ASSERT_TRUE(ParseChatAddress(address));
  if (address.host != "127.0.0.1" && address.host != "localhost") {
    GTEST_SKIP() << "the chat service is not on loopback in this build";
  }
  Winsock winsock;
  Socket listener;
  listener.s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(listener.s, INVALID_SOCKET);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = ::htons(address.port);
  local.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  if (::bind(listener.s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
    GTEST_SKIP() << "port " << address.port << " is taken (a chat service runs)";
  }
  ASSERT_EQ(::listen(listener.s, 4), 0);

  ParlexProcess parlex;
  ASSERT_TRUE(parlex.Start());
  Socket client;
  std::string request;
  std::string firstLine;
  // The start-up update check may ask the same address for its version file
  // first; it is told there is none.
  for (int attempt = 0; attempt < 4; ++attempt) {
    ASSERT_TRUE(Readable(listener.s, 30000)) << "no request for the agent page";
    if (client.s != INVALID_SOCKET) ::closesocket(client.s);
    client.s = ::accept(listener.s, nullptr, nullptr);
    ASSERT_NE(client.s, INVALID_SOCKET);
    request.clear();
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && Readable(client.s, 10000)) {
      int got = ::recv(client.s, buffer, sizeof(buffer), 0);
      if (got <= 0) break;
      request.append(buffer, got);
    }
    firstLine = request.substr(0, request.find("\r\n"));
    if (firstLine.find("/update.txt ") == std::string::npos) break;
    const char notFound[] = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    ::send(client.s, notFound, sizeof(notFound) - 1, 0);
  }
  EXPECT_EQ(firstLine.substr(0, firstLine.rfind(' ')), "GET " + address.path + "embeded");
  EXPECT_EQ(firstLine.substr(firstLine.rfind(' ') + 1, 5), "HTTP/");
  // No headers of the program's own (no post data, no extra headers).
  EXPECT_EQ(request.find("Content-Length"), std::string::npos);

  const char reply[] = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>agent</body></html>";
  ::send(client.s, reply, sizeof(reply) - 1, 0);
  EXPECT_TRUE(WaitForMainWindow(parlex.Id()));
}

}  // namespace
}  // namespace parlex::app::win32::testing
