// parlex-demo-service [--port N] [--data-dir DIR] [--update-dir DIR]
//
// A small chat service on 127.0.0.1 for running the program end to end: the
// agent page the program shows (/embeded), a visitor page for any browser
// (/visitor), the image endpoint the capture's send button posts to
// (/resource/staff/image) and the update files (/update/...). The first line
// on standard output names the address (with --port 0, the port chosen);
// then one line per request. SIGINT or SIGTERM ends it. The conversations
// are kept in chat.sqlite3 in the data folder, the images beside it.
//
// Exit codes: 0 stopped by a signal, 1 could not listen, make its folder or
// open its database, 2 wrong arguments.
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "chat_store.h"
#include "options.h"
#include "routes.h"

namespace {

using parlex::demo::Options;

// The data folder as given (made if missing), or a new private one.
std::string MakeDataDir(const Options& options) {
  if (!options.dataDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.dataDir, error);
    if (!std::filesystem::is_directory(options.dataDir, error)) return {};
    return std::filesystem::absolute(options.dataDir, error).string();
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/parlex-demo-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parlex::demo::ParseOptions(argc, argv);
  if (!options) return 2;
  if (options->help) return 0;

  std::string dataDir = MakeDataDir(*options);
  if (dataDir.empty()) {
    std::fprintf(stderr, "parlex-demo-service: cannot make the data folder\n");
    return 1;
  }
  std::error_code error;
  if (!options->updateDir.empty() && !std::filesystem::is_directory(options->updateDir, error)) {
    std::fprintf(stderr, "parlex-demo-service: %s is not a folder\n", options->updateDir.c_str());
    return 1;
  }

  // Signals go to one waiting thread, never into the server's threads; a peer
  // that hangs up mid-reply must not end the process.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  const std::string database = dataDir + "/chat.sqlite3";
  std::string reason;
  auto chat = parlex::demo::ChatStore::Open(database, &reason);
  if (!chat) {
    std::fprintf(stderr, "parlex-demo-service: cannot open the database %s: %s\n", database.c_str(),
                 reason.c_str());
    return 1;
  }

  parlex::demo::ServiceState state{parlex::demo::ImageStore(dataDir),
                                   parlex::demo::ServedFolder(dataDir),
                                   parlex::demo::ServedFolder(options->updateDir),
                                   *chat,
                                   {}};
  httplib::Server server;
  // Every page keeps one long-polling request waiting; the library's few
  // default workers would be taken by a handful of visitors.
  server.new_task_queue = [] { return new httplib::ThreadPool(64); };
  // The library's default also sets SO_REUSEPORT, which lets a second service
  // listen on a port already taken and quietly take half of its connections;
  // a taken port must make this one fail instead.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  parlex::demo::SetUpServer(server, state);
  int port = options->port;
  if (port == 0) {
    port = server.bind_to_any_port("127.0.0.1");
  } else if (!server.bind_to_port("127.0.0.1", port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "parlex-demo-service: cannot listen on 127.0.0.1:%d\n", options->port);
    return 1;
  }
  std::printf("parlex-demo-service listening on http://127.0.0.1:%d/\n", port);
  std::printf("  agent page   http://127.0.0.1:%d/embeded\n", port);
  std::printf("  visitor page http://127.0.0.1:%d/visitor\n", port);
  std::printf("  data in      %s\n", dataDir.c_str());
  std::printf("  updates from %s\n", options->updateDir.empty() ? "(none)" : options->updateDir.c_str());
  std::fflush(stdout);

  std::thread waiter([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // Waiting requests answer now, so the workers can end.
    state.chat.StopWaiting();
    server.stop();
  });
  server.listen_after_bind();
  // Wakes the waiter when the server ended on its own.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return 0;
}
