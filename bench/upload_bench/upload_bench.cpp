// parlex-upload against `curl -F`: both send the same 1 MiB file with the
// same two fields to the same loopback server, alternately, in one run. The
// side-by-side case reports both mean times and their ratio (target: at most
// 1.1). Every request the server received is checked to have arrived whole.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

#ifndef PARLEX_UPLOAD_PATH
#error "PARLEX_UPLOAD_PATH must name the parlex-upload program"
#endif

namespace {

using parlex::test::LoopbackServer;
using parlex::test::ScriptedReply;

constexpr size_t kFileBytes = 1u << 20;

// The test suites' loopback server, answering "ok" to every upload (it tells
// curl to go on when it asks before its body).
struct Setup {
  LoopbackServer server;
  parlex::test::TempDir dir{"upload-bench"};
  std::string file;
  std::string url;
  size_t checked = 0;  // connections whose request was checked
  Setup() {
    std::string bytes(kFileBytes, '\0');
    std::mt19937 random(42);
    for (char& c : bytes) c = static_cast<char>(random());
    file = dir.Write("shot.jpg", bytes).string();
    server.Route("/resource/staff/image", ScriptedReply::Text("ok"));
    if (!server.Start()) std::abort();
    url = server.UrlText("resource/staff/image");
  }
  // Whether every request since the last look arrived with its whole body.
  bool AllWhole() {
    bool whole = true;
    for (; checked < server.Connections(); ++checked) {
      std::string bytes = server.Received(checked);
      size_t end = bytes.find("\r\n\r\n");
      std::string head = bytes.substr(0, end);
      for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      size_t at = head.find("\r\ncontent-length:");
      size_t length = at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 17, nullptr, 10);
      whole = whole && end != std::string::npos && length > kFileBytes && bytes.size() == end + 4 + length;
    }
    return whole;
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

std::vector<std::string> ParlexCommand() {
  Setup& s = Shared();
  return {PARLEX_UPLOAD_PATH, s.url, s.file, "1001", "-1"};
}

std::vector<std::string> CurlCommand() {
  Setup& s = Shared();
  return {"/usr/bin/curl",
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
          s.url};
}

double Seconds(const std::vector<std::string>& command, benchmark::State& state) {
  auto start = std::chrono::steady_clock::now();
  if (parlex::test::RunProgram(command[0], command, 30000).exitCode != 0)
    state.SkipWithError((command[0] + " failed").c_str());
  if (!Shared().AllWhole()) state.SkipWithError((command[0] + ": incomplete request").c_str());
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
