// A scripted HTTP server on 127.0.0.1 for every suite that talks HTTP, in
// both builds (posix sockets on Linux, Winsock under Wine). It runs in its
// own thread, records the raw bytes of every request it receives and answers
// a request whose path has a route with that route's reply (Set), any other
// with the next reply of its script (connection n gets replies[n]), and, once
// routes exist, unknown paths with 404.
//
// On posix it can also serve https (UseTls): the recorded bytes are then the
// decrypted request, and a connection whose handshake fails records none.
//
// A client that sends "Expect: 100-continue" is told to go on once its head
// is in.
//
// Everything is bounded: a request is read until its head and Content-Length
// body are in, the client closes, kReadIdleMs pass in silence or
// kMaxRequestBytes arrive; a connection told never to answer is held open
// (while later connections are served) until Stop(); the destructor stops
// the thread and closes every socket.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace parlex::test {

struct ScriptedReply {
  enum class Mode {
    kAnswer,             // wait delayMs, send head and body, close
    kNeverAnswer,        // read the request, then hold the connection silently until Stop()
    kCloseWithoutReply,  // read the request, then close without a byte
    kCloseUnread,        // close at once (after the TLS handshake), reading nothing
    kHoldUnread,         // accept, then read nothing and hold the connection until Stop()
  };
  Mode mode = Mode::kAnswer;
  // With kAnswer: send this many body bytes, fall silent for pauseMs, then
  // send the rest (0 ms: no pause).
  size_t pauseAfter = 0;
  int pauseMs = 0;
  // Sent as it stands: the status line and header lines, ending in an empty line.
  std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
  std::string body;
  int delayMs = 0;
  // With kAnswer: keep the connection open after the reply, until Stop().
  bool holdOpen = false;
  // With kAnswer and above 0: the body goes out one byte at a time, dripMs
  // apart (a server that is slow on purpose), until it is all out or Stop().
  int dripMs = 0;
  // With kAnswer: after the body, filler bytes without end, as a hostile
  // server sends them; bounded all the same: they stop once this many went
  // out, the client hangs up or stalls for kReadIdleMs, or Stop().
  uint64_t fillerUpTo = 0;

  static ScriptedReply Text(std::string body);
  static ScriptedReply Never();
  static ScriptedReply CloseAtOnce();
};

// A loopback port nothing listens on any more (a server's, closed again):
// for requests that must find no server. 0 when none could be had.
uint16_t ClosedLoopbackPort();

// A file as an update server serves it: a status, a body, an announced
// length (-2: the body's size, -1: none, the end is the close), or silence
// after the request, or a pause in the middle of the body, or a body that
// goes on with filler (see ScriptedReply::fillerUpTo).
struct Reply {
  int status = 200;
  std::string body;
  int64_t announced = -2;
  bool silent = false;
  size_t pauseAfter = 0;
  int pauseMs = 0;
  uint64_t fillerUpTo = 0;

  ScriptedReply Scripted() const;
};

class LoopbackServer {
 public:
  static constexpr int kReadIdleMs = 3000;
  static constexpr size_t kMaxRequestBytes = 32u << 20;

  // Connection n gets replies[n]; connections beyond the script are closed
  // at once (or, once routes exist, get 404).
  explicit LoopbackServer(std::vector<ScriptedReply> replies = {});
  explicit LoopbackServer(ScriptedReply reply);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Serves TLS with the certificate chain and key in these PEM files from
  // the next Start on. False when they cannot be loaded, and always under
  // Windows, where this helper has no TLS.
  bool UseTls(const std::string& certFile, const std::string& keyFile);

  // Listens on 127.0.0.1 at port (0: a free one) and starts serving. False
  // if the socket could not be set up (or the port is taken).
  bool Start(uint16_t port = 0);
  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port>" (https with TLS) followed by path.
  std::u16string Url(std::u16string_view path) const;
  // "http://127.0.0.1:<port>/" (https with TLS) followed by path (which has no leading '/').
  std::string UrlText(const std::string& path = "") const;

  // Answers every request for "/" + path with reply, whatever its connection.
  void Set(const std::string& path, Reply reply);
  void Route(const std::string& target, ScriptedReply reply);
  // The head (request line and header lines) of every request so far, in order.
  std::vector<std::string> Requests();

  // The raw bytes connection n received, once its request is complete (or the
  // read ended); waits at most waitMs for that. Empty if there was no such
  // connection in time.
  std::string Received(size_t n, int waitMs = 5000);
  // Connections accepted so far.
  size_t Connections();
  // Filler bytes sent so far, over all connections.
  uint64_t FillerSent();
  // With TLS: the server name (SNI) connection n's client sent, empty for none.
  std::string ServerName(size_t n);

  // Ends the serving thread and closes every socket. Idempotent.
  void Stop();

 private:
  struct Conn {
    std::string bytes;
    bool done = false;
    std::string serverName;
  };
  void Serve();
  // Serves one connection (tls: its TLS session, or null); true when it is
  // to be held open.
  bool Handle(uintptr_t sock, void* tls, size_t index);
  bool Sleep(int ms);  // false once stopping
  void SendFiller(uintptr_t sock, void* tls, uint64_t upTo);

  std::vector<ScriptedReply> replies_;
  std::map<std::string, ScriptedReply> routes_;  // by request target; guarded by mutex_
  uintptr_t listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Conn> conns_;
  uint64_t fillerSent_ = 0;                        // guarded by mutex_
  std::vector<std::pair<uintptr_t, void*>> held_;  // silent connections and their TLS, closed by Stop()
  void* tlsContext_ = nullptr;                     // the server's TLS setup, when serving https
  bool winsockStarted_ = false;
};

}  // namespace parlex::test
