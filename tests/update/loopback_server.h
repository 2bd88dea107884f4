// A tiny HTTP server on 127.0.0.1 for the updater's tests, run on its own
// thread. It answers GET requests from a table of replies and can stay
// silent, cut a body short or pause in the middle. Every wait it makes is
// bounded and Stop() ends it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace parlex::update::testing {

struct Reply {
  int status = 200;
  std::string body;
  int64_t announced = -2;  // Content-Length: -2 the body's size, -1 none
  bool silent = false;     // accept, read the request, never answer
  size_t pauseAfter = 0;   // with pauseMs: body bytes sent before the pause
  int pauseMs = 0;
};

class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Listens on 127.0.0.1:port (0: any free port). False when the port
  // could not be had.
  bool Start(uint16_t port = 0);
  void Stop();
  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:port/" followed by path.
  std::string Url(const std::string& path = "") const;

  void Set(const std::string& path, Reply reply);
  // The request heads received so far, in order.
  std::vector<std::string> Requests();

 private:
  void Serve();
  void Answer(intptr_t client);

  intptr_t listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, Reply> replies_;
  std::vector<std::string> requests_;
};

}  // namespace parlex::update::testing
