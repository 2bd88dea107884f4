// A scripted HTTP server on 127.0.0.1 for the client's tests, in both builds
// (posix sockets on Linux, Winsock under Wine). It runs in its own thread,
// records the raw bytes of every request it receives and answers each
// connection with the next reply of its script.
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
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace parlex::test {

struct ScriptedReply {
  enum class Mode {
    kAnswer,             // wait delayMs, send head and body, close
    kNeverAnswer,        // read the request, then hold the connection silently until Stop()
    kCloseWithoutReply,  // read the request, then close without a byte
  };
  Mode mode = Mode::kAnswer;
  // Sent as it stands: the status line and header lines, ending in an empty line.
  std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
  std::string body;
  int delayMs = 0;
  // With kAnswer: keep the connection open after the reply, until Stop().
  bool holdOpen = false;

  static ScriptedReply Text(std::string body);
  static ScriptedReply Never();
  static ScriptedReply CloseAtOnce();
};

class LoopbackServer {
 public:
  static constexpr int kReadIdleMs = 3000;
  static constexpr size_t kMaxRequestBytes = 32u << 20;

  // Connection n gets replies[n]; connections beyond the script are closed at once.
  explicit LoopbackServer(std::vector<ScriptedReply> replies);
  explicit LoopbackServer(ScriptedReply reply);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Listens on 127.0.0.1 at a free port and starts serving. False if the
  // socket could not be set up.
  bool Start();
  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by path.
  std::u16string Url(std::u16string_view path) const;

  // The raw bytes connection n received, once its request is complete (or the
  // read ended); waits at most waitMs for that. Empty if there was no such
  // connection in time.
  std::string Received(size_t n, int waitMs = 5000);
  // Connections accepted so far.
  size_t Connections();

  // Ends the serving thread and closes every socket. Idempotent.
  void Stop();

 private:
  struct Conn {
    std::string bytes;
    bool done = false;
  };
  void Serve();
  // Serves one connection; true when it is to be held open.
  bool Handle(uintptr_t sock, size_t index);
  bool Sleep(int ms);  // false once stopping

  std::vector<ScriptedReply> replies_;
  uintptr_t listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Conn> conns_;
  std::vector<uintptr_t> held_;  // silent connections, closed by Stop()
  bool winsockStarted_ = false;
};

}  // namespace parlex::test
