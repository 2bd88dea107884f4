#include "demo_service_runner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace parlex::test {

DemoService::DemoService(std::vector<std::string> extraArgs) : extraArgs_(std::move(extraArgs)) {
  if (dir_.Ok()) Start();
}

bool DemoService::Start() {
  port_ = 0;
  process_ = std::make_unique<ChildProcess>();
  std::vector<std::string> args = {PARLEX_DEMO_SERVICE, "--port", "0", "--data-dir", DataDir().string()};
  args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
  if (!process_->Start(PARLEX_DEMO_SERVICE, args)) return false;
  // "parlex-demo-service listening on http://127.0.0.1:<port>/"
  auto first = process_->ReadLine(10000);
  const std::string marker = "http://127.0.0.1:";
  size_t at = first ? first->find(marker) : std::string::npos;
  if (at != std::string::npos) port_ = std::atoi(first->c_str() + at + marker.size());
  return port_ > 0;
}

bool DemoService::Restart() {
  if (Stop().first != 0) return false;
  return Start();
}

httplib::Client DemoService::Client() const {
  httplib::Client client("127.0.0.1", port_);
  client.set_connection_timeout(5);
  client.set_read_timeout(10);
  return client;
}

std::vector<std::string> DemoService::StoredNames() const {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(DataDir(), error)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("chat.sqlite3", 0) != 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string DemoService::Raw(const std::string& request, int timeoutMs) const {
  RawConnection connection(port_);
  if (!connection.Ok() || !connection.Send(request)) return {};
  return connection.ReadToClose(timeoutMs);
}

RawConnection::RawConnection(int port) {
  sock_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sock_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(sock_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(sock_);
    sock_ = -1;
  }
}

RawConnection::~RawConnection() {
  if (sock_ >= 0) ::close(sock_);
}

bool RawConnection::Send(std::string_view bytes) {
  while (sock_ >= 0 && !bytes.empty()) {
    ssize_t n = ::send(sock_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return sock_ >= 0;
}

std::string RawConnection::ReadToClose(int timeoutMs) {
  std::string reply;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (sock_ >= 0) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{sock_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[4096];
    ssize_t n = ::recv(sock_, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    reply.append(chunk, static_cast<size_t>(n));
  }
  return reply;
}

std::pair<int, std::string> DemoService::Stop() {
  if (!process_) return {-1, {}};
  process_->Signal(SIGTERM);
  std::string output = process_->ReadToEnd(10000);
  auto status = process_->Wait(10000);
  int code = status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  return {code, output};
}

std::string MakeImage(const std::filesystem::path& file, int width, int height, const std::string& color) {
  std::string command = "convert -size " + std::to_string(width) + "x" + std::to_string(height) +
                        " xc:" + color + " '" + file.string() + "'";
  if (std::system(command.c_str()) != 0) return {};
  return TempDir::Read(file);
}

httplib::MultipartFormDataItems UploadForm(const std::string& company, const std::string& visitor,
                                           const std::string& image, const std::string& fileName) {
  return {{"companyId", company, "", ""},
          {"visitorId", visitor, "", ""},
          {"upload", image, fileName, "image/jpeg"}};
}

std::optional<Visitor> AddVisitor(httplib::Client& client, int companyId, std::optional<int> visitorId) {
  nlohmann::json body{{"companyId", companyId}};
  if (visitorId) body["visitorId"] = *visitorId;
  auto res = client.Post("/api/visitors", body.dump(), "application/json");
  if (!res || res->status != 201) return std::nullopt;
  auto answer = nlohmann::json::parse(res->body, nullptr, false);
  if (!answer.is_object()) return std::nullopt;
  return Visitor{answer["companyId"], answer["visitorId"], answer["token"]};
}

}  // namespace parlex::test
