#include "chat_routes.h"

#include <optional>
#include <string>

#include "json_reply.h"
#include "plain_name.h"

namespace parlex::demo {
namespace {

using httplib::Request;
using httplib::Response;
using nlohmann::json;

// A message body is small; a larger one is refused before it is parsed.
constexpr size_t kMaxBodyBytes = 8 * kMaxTextBytes;

// The conversation a path names (its first two captures), or an error sent.
std::optional<ConversationKey> KeyOf(const Request& req, Response& res) {
  auto company = ParseWholeNumber(req.matches[1].str());
  if (!company) return Error(res, 400, "companyId is not a whole number"), std::nullopt;
  auto visitor = ParseWholeNumber(req.matches[2].str());
  if (!visitor) return Error(res, 400, "visitorId is not a whole number"), std::nullopt;
  return ConversationKey{*company, *visitor};
}

// The JSON object of a body, or an error sent.
std::optional<json> BodyOf(const Request& req, Response& res) {
  if (req.body.size() > kMaxBodyBytes) return Error(res, 413, "the body is too large"), std::nullopt;
  json body = json::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object())
    return Error(res, 400, "expected a JSON object"), std::nullopt;
  return body;
}

// A whole number of 32 bits from a JSON field into *id (left empty when the
// field is absent); false when the field holds anything else.
bool ReadId(const json& body, const char* name, std::optional<int32_t>* id) {
  if (!body.contains(name)) return true;
  const json& value = body[name];
  if (!value.is_number_integer()) return false;
  auto n = value.get<int64_t>();
  if (n < INT32_MIN || n > INT32_MAX) return false;
  *id = static_cast<int32_t>(n);
  return true;
}

// A message number from the query ("after"), 0 when absent.
std::optional<int64_t> AfterOf(const Request& req, Response& res) {
  if (!req.has_param("after")) return 0;
  std::string text = req.get_param_value("after");
  auto n = ParseWholeNumber(text);
  if (!n || *n < 0 || text.front() == '+')
    return Error(res, 400, "after is not a message number"), std::nullopt;
  return *n;
}

void StoreFailed(Response& res, StoreResult result) {
  if (result == StoreResult::kNoConversation) return Error(res, 404, "no such conversation");
  Error(res, 500, "the chat could not be stored");
}

void PostText(const Request& req, Response& res, ChatStore& store, ConversationKey key, const char* sender) {
  auto body = BodyOf(req, res);
  if (!body) return;
  if (!body->contains("text") || !(*body)["text"].is_string())
    return Error(res, 400, "expected {\"text\": \"...\"}");
  std::string text = (*body)["text"].get<std::string>();
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return Error(res, 400, "the message is empty");
  if (text.size() > kMaxTextBytes) return Error(res, 413, "the message is longer than 4 KiB");
  auto added = store.AddText(key, sender, text);
  if (added.result != StoreResult::kOk) return StoreFailed(res, added.result);
  Reply(res, 201, ToJson(added.value));
}

// The conversation's messages after `after`; with wait=1 and nothing new,
// the answer waits (at most kLongPoll) until something arrives.
void ListMessages(const Request& req, Response& res, ChatStore& store, ConversationKey key) {
  auto after = AfterOf(req, res);
  if (!after) return;
  const bool wait = req.get_param_value("wait") == "1";
  const auto deadline = std::chrono::steady_clock::now() + kLongPoll;
  for (;;) {
    uint64_t version = store.Version();
    auto found = store.Messages(key, *after);
    if (found.result != StoreResult::kOk) return StoreFailed(res, found.result);
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!found.value.empty() || !wait || left.count() <= 0) {
      json list = json::array();
      for (const ChatMessage& m : found.value) list.push_back(ToJson(m));
      res.set_header("Cache-Control", "no-store");
      return Reply(res, 200, json{{"messages", std::move(list)}});
    }
    if (store.WaitForChange(version, left) == version) {
      // Nothing changed within the bound, or the service is stopping.
      res.set_header("Cache-Control", "no-store");
      return Reply(res, 200, json{{"messages", json::array()}});
    }
  }
}

// --- the visitor's side: every request shows the visitor's token

void AddVisitor(const Request& req, Response& res, ChatStore& store) {
  auto body = BodyOf(req, res);
  if (!body) return;
  std::optional<int32_t> company, visitor;
  if (!ReadId(*body, "companyId", &company) || !company)
    return Error(res, 400, "companyId is not a whole number");
  if (!ReadId(*body, "visitorId", &visitor)) return Error(res, 400, "visitorId is not a whole number");
  auto added = store.AddVisitor(*company, visitor);
  if (added.result == StoreResult::kTaken) return Error(res, 409, "that visitor exists already");
  if (added.result != StoreResult::kOk) return StoreFailed(res, added.result);
  Reply(res, 201,
        json{{"companyId", added.value.key.companyId},
             {"visitorId", added.value.key.visitorId},
             {"token", added.value.token}});
}

// The visitor's conversation, when the request shows its token.
std::optional<ConversationKey> VisitorKeyOf(const Request& req, Response& res, ChatStore& store) {
  auto key = KeyOf(req, res);
  if (!key) return std::nullopt;
  if (!store.IsVisitor(*key, req.get_param_value("token"))) {
    return Error(res, 404, "no such conversation"), std::nullopt;
  }
  return key;
}

// --- the agent's side

// Every conversation; with since=<version> equal to the current one, the
// answer waits (at most kLongPoll) for a change.
void ListConversations(const Request& req, Response& res, ChatStore& store) {
  uint64_t version = store.Version();
  if (req.has_param("since")) {
    std::string since = req.get_param_value("since");
    if (since.empty() || since.find_first_not_of("0123456789") != std::string::npos || since.size() > 19) {
      return Error(res, 400, "since is not a version number");
    }
    if (std::stoull(since) == version) version = store.WaitForChange(version, kLongPoll);
  }
  auto conversations = store.Conversations();
  if (!conversations) return Error(res, 500, "the chat could not be read");
  json list = json::array();
  for (const Conversation& c : *conversations) {
    list.push_back(json{{"companyId", c.key.companyId},
                        {"visitorId", c.key.visitorId},
                        {"time", c.lastMs},
                        {"unread", c.unread},
                        {"lastText", c.lastText}});
  }
  res.set_header("Cache-Control", "no-store");
  Reply(res, 200, json{{"version", version}, {"conversations", std::move(list)}});
}

}  // namespace

json ToJson(const ChatMessage& m) {
  json out{{"id", m.id},
           {"companyId", m.key.companyId},
           {"visitorId", m.key.visitorId},
           {"from", m.sender},
           {"time", m.timeMs},
           {"text", m.text}};
  if (m.image) {
    out["image"] =
        json{{"url", "/uploads/" + m.image->file}, {"width", m.image->width}, {"height", m.image->height}};
  }
  return out;
}

void AddChatRoutes(httplib::Server& server, ChatStore& store) {
  constexpr const char* kVisitorMessages = R"(/api/visitors/([^/]+)/([^/]+)/messages)";
  constexpr const char* kAgentMessages = R"(/api/conversations/([^/]+)/([^/]+)/messages)";

  server.Post("/api/visitors", [&store](const Request& req, Response& res) { AddVisitor(req, res, store); });
  server.Get(kVisitorMessages, [&store](const Request& req, Response& res) {
    if (auto key = VisitorKeyOf(req, res, store)) ListMessages(req, res, store, *key);
  });
  server.Post(kVisitorMessages, [&store](const Request& req, Response& res) {
    if (auto key = VisitorKeyOf(req, res, store)) PostText(req, res, store, *key, "visitor");
  });

  server.Get("/api/conversations",
             [&store](const Request& req, Response& res) { ListConversations(req, res, store); });
  server.Get(kAgentMessages, [&store](const Request& req, Response& res) {
    if (auto key = KeyOf(req, res)) ListMessages(req, res, store, *key);
  });
  server.Post(kAgentMessages, [&store](const Request& req, Response& res) {
    if (auto key = KeyOf(req, res)) PostText(req, res, store, *key, "agent");
  });
  server.Post(R"(/api/conversations/([^/]+)/([^/]+)/read)", [&store](const Request& req, Response& res) {
    auto key = KeyOf(req, res);
    if (!key) return;
    StoreResult result = store.MarkRead(*key);
    if (result != StoreResult::kOk) return StoreFailed(res, result);
    Reply(res, 200, json::object());
  });
}

}  // namespace parlex::demo
