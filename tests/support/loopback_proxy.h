// An http proxy on 127.0.0.1 for the tests of proxied requests (posix only).
// It records the head of every request it is asked (request line and header
// lines) and then, as told:
//   kForward: a request for "http://any-host:port/path" goes to the target
//             port on 127.0.0.1 as "VERB /path ..." (the rest of the head and
//             the body as they came); "CONNECT any-host:port" answers 200 and
//             relays bytes both ways to the target port. Whatever host is
//             asked for, the target is on loopback, so a test can use names
//             that only the proxy "resolves".
//   kRefuse:  answers "HTTP/1.0 403 Forbidden" and closes.
//   kClose:   closes without a byte.
// Everything is bounded: a head is read for at most kIdleMs, a relay ends
// after kIdleMs of silence in both directions, and Stop() (or the
// destructor) ends every connection.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/scoped_env.h"

namespace parlex::test {

// Sets the proxy variables of this process for its lifetime: every one of
// http_proxy, https_proxy, no_proxy and their upper-case forms is unset
// first and again at the end, then the given ones are set. Any other
// variable given (SSL_CERT_FILE) gets its earlier value back at the end.
class ProxyEnvironment {
 public:
  explicit ProxyEnvironment(std::vector<std::pair<std::string, std::string>> variables);
  ~ProxyEnvironment();
  ProxyEnvironment(const ProxyEnvironment&) = delete;
  ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

 private:
  std::vector<std::unique_ptr<ScopedEnv>> others_;
};

class LoopbackProxy {
 public:
  enum class Mode { kForward, kRefuse, kClose };
  static constexpr int kIdleMs = 5000;

  explicit LoopbackProxy(Mode mode, uint16_t targetPort = 0) : mode_(mode), targetPort_(targetPort) {}
  ~LoopbackProxy();
  LoopbackProxy(const LoopbackProxy&) = delete;
  LoopbackProxy& operator=(const LoopbackProxy&) = delete;

  bool Start();
  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port>" for http_proxy / https_proxy.
  std::string Address() const;

  // The request heads received so far, in order.
  std::vector<std::string> Requests();
  // Bytes relayed from the client through CONNECT tunnels so far.
  std::string TunnelledFromClient();

  void Stop();

 private:
  void Accept();
  void Serve(int client);

  Mode mode_;
  uint16_t targetPort_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;  // guarded by mutex_
  std::vector<std::string> requests_;
  std::string tunnelled_;
};

}  // namespace parlex::test
