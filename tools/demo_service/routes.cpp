#include "routes.h"

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "chat_routes.h"
#include "image_info.h"
#include "json_reply.h"
#include "pages.h"
#include "plain_name.h"

namespace parlex::demo {
namespace {

using httplib::Request;
using httplib::Response;
using nlohmann::json;

constexpr const char* kHtml = "text/html; charset=utf-8";

// --- image endpoint

void HandleUpload(const Request& req, Response& res, ServiceState& state) {
  if (!req.is_multipart_form_data()) return Error(res, 400, "expected a multipart/form-data body");
  for (const char* name : {"companyId", "visitorId", "upload"}) {
    size_t count = req.files.count(name);
    if (count == 0) return Error(res, 400, std::string("missing field ") + name);
    if (count > 1) return Error(res, 400, std::string("field ") + name + " given more than once");
  }
  auto company = ParseWholeNumber(req.get_file_value("companyId").content);
  if (!company) return Error(res, 400, "companyId is not a whole number");
  auto visitor = ParseWholeNumber(req.get_file_value("visitorId").content);
  if (!visitor) return Error(res, 400, "visitorId is not a whole number");
  const httplib::MultipartFormData upload = req.get_file_value("upload");
  if (upload.filename.empty()) return Error(res, 400, "upload is not a file");
  if (upload.content.size() > kMaxImageBytes) return Error(res, 413, "the image is larger than 20 MiB");
  auto info = ReadImageInfo(upload.content);
  if (!info) return Error(res, 415, "upload is neither a JPEG nor a PNG with a readable size");
  // The image belongs to a visitor's conversation; it is checked again when
  // the record is written, so a file is never kept without one.
  const ConversationKey key{*company, *visitor};
  if (!state.chat.HasConversation(key)) {
    return Error(res, 404, "no conversation of that companyId and visitorId");
  }
  auto name = state.images.Store(upload.content, *info);
  if (!name) return Error(res, 500, "the image could not be stored");
  // The service itself puts the capture into the conversation, in the same
  // step as its record: the visitor gets it whatever becomes of the agent
  // page's onFileSent (a page reloaded meanwhile, a browser control that
  // runs no script).
  auto message = state.chat.AddImage(key, *name, info->width, info->height);
  if (message.result != StoreResult::kOk) {
    state.images.Remove(*name);
    return Error(res, message.result == StoreResult::kNoConversation ? 404 : 500,
                 "the image could not be recorded");
  }
  Reply(res, 200,
        json{{"id", message.value.image->id},
             {"url", "/uploads/" + *name},
             {"width", info->width},
             {"height", info->height},
             {"companyId", *company},
             {"visitorId", *visitor}});
}

// --- files

const char* ContentTypeOf(const std::string& name) {
  auto endsWith = [&](std::string_view tail) {
    return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endsWith(".jpg")) return "image/jpeg";
  if (endsWith(".png")) return "image/png";
  if (endsWith(".txt")) return "text/plain";
  return "application/octet-stream";
}

void ServeFrom(const ServedFolder& folder, const Request& req, Response& res) {
  std::string name = req.matches[1];
  auto bytes = folder.Read(name);
  if (!bytes) return Error(res, 404, "not found");
  res.set_content(std::move(*bytes), ContentTypeOf(name));
}

// --- the agent page's own log

void HandleListAgentLog(const Request& req, Response& res, ServiceState& state) {
  uint64_t after = 0;
  if (req.has_param("after")) {
    auto n = ParseWholeNumber(req.get_param_value("after"));
    if (!n || *n < 0) return Error(res, 400, "after is not an entry number");
    after = static_cast<uint64_t>(*n);
  }
  json list = json::array();
  for (const Message& m : state.agentLog.After(after)) {
    json entry{{"id", m.id}, {"time", m.timeMs}};
    entry["report"] = json::parse(m.text, nullptr, false);
    list.push_back(std::move(entry));
  }
  res.set_header("Cache-Control", "no-store");
  Reply(res, 200, json{{"entries", std::move(list)}, {"last", state.agentLog.LastId()}});
}

void HandlePostAgentLog(const Request& req, Response& res, ServiceState& state) {
  json body = json::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object() || !body.contains("event") || !body["event"].is_string()) {
    return Error(res, 400, "expected {\"event\": \"...\", ...}");
  }
  std::string text = Dump(body);
  if (text.size() > MessageBoard::kMaxTextBytes) return Error(res, 413, "the report is too long");
  std::printf("agent page: %s\n", text.c_str());
  Reply(res, 201, json{{"id", state.agentLog.Add(std::move(text)).id}});
}

// --- the request log

std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text.substr(0, 300)) {
    if (c < 0x20 || c >= 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A visitor's secret stays out of the log.
std::string WithoutToken(std::string_view target) {
  std::string out;
  for (size_t at; (at = target.find("token=")) != std::string_view::npos;) {
    out.append(target.substr(0, at + 6)).append("*");
    size_t end = target.find('&', at);
    target = end == std::string_view::npos ? std::string_view() : target.substr(end);
  }
  return out.append(target);
}

void Log(const Request& req, const Response& res) {
  static std::mutex mutex;
  std::string target = WithoutToken(req.target.empty() ? req.path : req.target);
  std::lock_guard lock(mutex);
  std::printf("%s %s %d\n", Printable(req.method).c_str(), Printable(target).c_str(), res.status);
  std::fflush(stdout);
}

const char* ErrorText(int status) {
  switch (status) {
    case 400:
      return "bad request";
    case 404:
      return "not found";
    case 405:
      return "method not allowed";
    case 413:
      return "request too large";
    case 414:
      return "request line too long";
    default:
      return "request failed";
  }
}

}  // namespace

void SetUpServer(httplib::Server& server, ServiceState& state) {
  // A little room above the image for the form's other parts and headers;
  // a larger body is refused before it is read.
  server.set_payload_max_length(kMaxImageBytes + (64u << 10));
  server.set_logger(Log);
  server.set_error_handler([](const Request&, Response& res) {
    if (res.body.empty()) res.set_content(Dump(json{{"error", ErrorText(res.status)}}), kJsonType);
  });
  server.set_exception_handler(
      [](const Request&, Response& res, std::exception_ptr) { Error(res, 500, "internal error"); });

  server.Get("/embeded",
             [](const Request&, Response& res) { res.set_content(std::string(AgentPage()), kHtml); });
  server.Get("/visitor",
             [](const Request&, Response& res) { res.set_content(std::string(VisitorPage()), kHtml); });
  server.Get("/chat.js", [](const Request&, Response& res) {
    res.set_content(std::string(ChatScript()), "text/javascript; charset=utf-8");
  });
  server.Get("/", [](const Request&, Response& res) { res.set_redirect("/visitor", 302); });
  AddChatRoutes(server, state.chat);
  server.Get("/agent-log",
             [&state](const Request& req, Response& res) { HandleListAgentLog(req, res, state); });
  server.Post("/agent-log",
              [&state](const Request& req, Response& res) { HandlePostAgentLog(req, res, state); });
  server.Post("/resource/staff/image",
              [&state](const Request& req, Response& res) { HandleUpload(req, res, state); });
  // Only the images of the conversations: never the database beside them.
  server.Get(R"(/uploads/([^/]+))", [&state](const Request& req, Response& res) {
    if (!state.chat.HasImageFile(req.matches[1])) return Error(res, 404, "not found");
    ServeFrom(state.uploads, req, res);
  });
  server.Get(R"(/update/([^/]+))",
             [&state](const Request& req, Response& res) { ServeFrom(state.updates, req, res); });
}

}  // namespace parlex::demo
