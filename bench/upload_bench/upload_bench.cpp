// parlex-upload against `curl -F`: both send the same 1 MiB file with the
// same two fields to the same loopback sink, alternately, in one run. The
// side-by-side case reports both mean times and their ratio (target: at most
// 1.1). The sink checks every request arrived whole.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef PARLEX_UPLOAD_PATH
#error "PARLEX_UPLOAD_PATH must name the parlex-upload program"
#endif

extern char** environ;

namespace {

// A sink on 127.0.0.1: reads each request's head and Content-Length body,
// answers "100 Continue" when asked to (curl asks for bodies over 1 MiB),
// replies "ok" and closes.
class Sink {
 public:
  Sink() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      std::perror("sink");
      std::exit(1);
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Sink() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/resource/staff/image"; }
  // Requests whose body fell short of their Content-Length, or had none.
  int Broken() const { return broken_; }
  int Served() const { return served_; }

 private:
  void Serve() {
    std::vector<char> buffer(1 << 16);
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int s = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (s < 0) continue;
      timeval tv{5, 0};
      ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      std::string head;
      size_t body = 0;
      size_t end = std::string::npos;
      while (end == std::string::npos) {
        ssize_t n = ::recv(s, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        head.append(buffer.data(), static_cast<size_t>(n));
        end = head.find("\r\n\r\n");
      }
      size_t length = 0;
      bool ok = end != std::string::npos;
      if (ok) {
        body = head.size() - (end + 4);
        std::string lower = head.substr(0, end + 2);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t at = lower.find("\r\ncontent-length:");
        ok = at != std::string::npos;
        if (ok) length = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
        if (lower.find("\r\nexpect: 100-continue") != std::string::npos) {
          static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
          ::send(s, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL);
        }
      }
      while (ok && body < length) {
        ssize_t n = ::recv(s, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        body += static_cast<size_t>(n);
      }
      if (!ok || body != length || length < (1u << 20)) ++broken_;
      static const char kReply[] =
          "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok";
      ::send(s, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
      ::shutdown(s, SHUT_WR);
      ::close(s);
      ++served_;
    }
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> broken_{0};
  std::atomic<int> served_{0};
};

struct Setup {
  Sink sink;
  std::string file = "/tmp/parlex_upload_bench.jpg";
  Setup() {
    std::string bytes(1 << 20, '\0');
    std::mt19937 random(42);
    for (char& c : bytes) c = static_cast<char>(random());
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ~Setup() { std::remove(file.c_str()); }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

// Runs a program with stdout to /dev/null; answers its exit code.
int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> ParlexCommand() {
  Setup& s = Shared();
  return {PARLEX_UPLOAD_PATH, s.sink.Url(), s.file, "1001", "-1"};
}

std::vector<std::string> CurlCommand() {
  Setup& s = Shared();
  return {"curl",
          "-s",
          "-o",
          "/dev/null",
          "-f",
          "-F",
          "companyId=1001",
          "-F",
          "visitorId=-1",
          "-F",
          "upload=@" + s.file + ";type=image/jpeg",
          s.sink.Url()};
}

double Seconds(const std::vector<std::string>& command, benchmark::State& state) {
  auto start = std::chrono::steady_clock::now();
  int broken = Shared().sink.Broken();
  if (Run(command) != 0) state.SkipWithError((command[0] + " failed").c_str());
  if (Shared().sink.Broken() != broken) state.SkipWithError((command[0] + ": incomplete request").c_str());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_ParlexUpload(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(Seconds(ParlexCommand(), state));
}

void BM_CurlUpload(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(Seconds(CurlCommand(), state));
}

// Both commands in every iteration, alternating which goes first.
void BM_SideBySide(benchmark::State& state) {
  double parlex = 0, curl = 0;
  int64_t n = 0;
  for (auto _ : state) {
    double p = 0, c = 0;
    if (n % 2 == 0) {
      p = Seconds(ParlexCommand(), state);
      c = Seconds(CurlCommand(), state);
    } else {
      c = Seconds(CurlCommand(), state);
      p = Seconds(ParlexCommand(), state);
    }
    parlex += p;
    curl += c;
    ++n;
    state.SetIterationTime(p + c);  // the pair; the counters split it
  }
  if (n == 0) return;
  state.counters["parlex_ms"] = 1000 * parlex / static_cast<double>(n);
  state.counters["curl_ms"] = 1000 * curl / static_cast<double>(n);
  state.counters["ratio"] = parlex / curl;
}

BENCHMARK(BM_ParlexUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);
BENCHMARK(BM_CurlUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);
BENCHMARK(BM_SideBySide)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
