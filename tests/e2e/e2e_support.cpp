#include "e2e/e2e_support.h"

#include <httplib.h>
#include <unistd.h>

#include <cstdlib>

namespace parlex::test {

namespace fs = std::filesystem;
using nlohmann::json;

QColor PatternAt(int x, int y) {
  const int bx = x / 64;
  const int by = y / 64;
  return QColor(0, 60 + (bx * 37) % 150, 90 + (by * 53) % 160);
}

QImage PatternImage(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) line[x] = PatternAt(x, y).rgb();
  }
  return image;
}

bool Close(const QColor& a, const QColor& b, int tolerance) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

std::unique_ptr<ChildProcess> StartDemoService(const fs::path& dataDir) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (attempt > 0) ::sleep(1);
    auto service = std::make_unique<ChildProcess>();
    if (!service->Start(PARLEX_DEMO_SERVICE_PATH, {"parlex-demo-service", "--port", std::to_string(kChatPort),
                                                   "--data-dir", dataDir.string()}))
      return nullptr;
    // The rest of its output is its request log.
    const std::optional<std::string> first = service->ReadLine(10000);
    if (first && first->find("listening on http://127.0.0.1:18380/") != std::string::npos) return service;
  }
  return nullptr;
}

std::vector<json> AgentLog() {
  httplib::Client client("127.0.0.1", kChatPort);
  client.set_connection_timeout(2);
  client.set_read_timeout(5);
  auto res = client.Get("/agent-log");
  if (!res || res->status != 200) return {};
  json body = json::parse(res->body, nullptr, false);
  if (body.is_discarded()) return {};
  std::vector<json> reports;
  for (const json& entry : body["entries"]) reports.push_back(entry["report"]);
  return reports;
}

std::optional<json> LastReport(const std::string& event) {
  std::vector<json> log = AgentLog();
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if ((*it)["event"] == event) return *it;
  }
  return std::nullopt;
}

size_t CountReports(const std::string& event) {
  size_t n = 0;
  for (const json& r : AgentLog()) n += r["event"] == event ? 1 : 0;
  return n;
}

std::optional<json> LastLayout() {
  std::vector<json> log = AgentLog();
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if ((*it)["event"] == "layout" || (*it)["event"] == "loaded") return *it;
  }
  return std::nullopt;
}

QPoint Centre(const QPoint& origin, const json& rect) {
  return QPoint(origin.x() + rect["x"].get<int>() + rect["width"].get<int>() / 2,
                origin.y() + rect["y"].get<int>() + rect["height"].get<int>() / 2);
}

std::optional<json> ConversationRect(const json& layout, int visitorId) {
  for (const json& c : layout["conversations"]) {
    if (c["visitorId"] == visitorId) return c["rect"];
  }
  return std::nullopt;
}

std::vector<fs::path> StoredImages(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    if (entry.is_regular_file() && entry.path().filename().string().rfind("img-", 0) == 0) {
      files.push_back(entry.path());
    }
  }
  return files;
}

}  // namespace parlex::test
