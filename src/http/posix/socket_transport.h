// The client's transport on Linux: HTTP/1.0 spoken over a TcpStream.
//
// On the wire, for every kind of request:
//   VERB path HTTP/1.0          ("/" when the path is empty)
//   User-Agent: <agent>         (left out for an empty agent)
//   Host: host[:port]           (the port only when it is not 80, 443 for https)
//   the added header lines in the order they were added: Accept, then for
//   the POSTs Content-Type and Content-Length
//   empty line, body
// The reply is read until the server closes. With kFlagSecure the connection
// is TLS with the server's certificate checked before the first byte of the
// request; a failed check fails Connect (TcpStream::StartTls says why).
// Through an http proxy (see proxy_settings.h) plain http requests carry the
// absolute target "http://host[:port]/path" and, when the proxy has a user,
// a Proxy-Authorization line follows Host; https goes through a CONNECT
// tunnel with TLS to the server inside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/unique_fd.h"
#include "net/posix/server_connection.h"
#include "net/reply_reader.h"
#include "http/transport.h"

namespace parlex::posix {

class SocketTransport : public Transport {
 public:
  SocketTransport();
  bool Open(std::u16string_view agent, const TransportTimeouts& timeouts) override;
  bool Connect(std::u16string_view host, uint16_t port, uint32_t flags) override;
  bool AttemptConnect() override;
  bool OpenRequest(std::u16string_view verb, std::u16string_view path, const char16_t* const* acceptTypes,
                   uint32_t flags) override;
  bool AddHeaders(std::u16string_view lines, uint32_t mode) override;
  bool Send(std::u16string_view extraHeaders, const void* body, size_t bodyLength) override;
  bool BeginSend() override;
  bool Write(const void* data, size_t length, size_t* written) override;
  bool EndSend() override;
  bool Read(void* buffer, size_t capacity, size_t* got) override;
  bool QueryRawHeaders(size_t capacityUnits, std::u16string* headers) override;
  void CloseRequest() override;
  void CloseConnection() override;
  void CloseRoot() override;
  uint32_t LastError() const override { return error_; }
  // Wakes every wait of the stream through an eventfd: the step in progress
  // fails with ECANCELED at once, and so does every later one.
  void Abort() override;
  // The last connection failure in words (a TLS reason, or the system's).
  std::string LastErrorText() const { return stream_.LastErrorText(); }

  // The request head as it goes on the wire (for the tests of header order).
  std::string RequestHead() const;

 private:
  bool Fail(int error) {
    error_ = static_cast<uint32_t>(error);
    return false;
  }
  bool ReceiveHead();
  ReplyReader::Source Source();

  UniqueFd abort_;
  std::atomic<bool> aborted_{false};
  bool rootOpen_ = false;
  bool requestOpen_ = false;
  bool headSent_ = false;
  std::string agent_;
  TransportTimeouts timeouts_;
  ServerRoute route_;
  TcpStream stream_;
  std::string verb_;
  std::string path_;
  std::vector<std::pair<std::string, std::string>> headers_;  // name, value
  ReplyReader reply_;
  uint32_t error_ = 0;
};

// The type /etc/mime.types-style table at tablePath gives for key (".jpg"),
// compared without regard to ASCII case; empty when it has none.
std::u16string LookupMimeTypeIn(const std::string& tablePath, std::u16string_view key);
// The same from the system's table, /etc/mime.types.
std::u16string LookupSystemMimeType(std::u16string_view key);

}  // namespace parlex::posix
