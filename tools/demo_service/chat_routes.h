// The chat's endpoints: visitors start a conversation and write in it, the
// agent page lists the conversations and answers; both sides learn of news
// by long polling (a request that waits until there is something to say).
//
//   POST /api/visitors                          {"companyId": N[, "visitorId": N]}
//   GET  /api/visitors/C/V/messages?token=&after=&wait=1
//   POST /api/visitors/C/V/messages?token=      {"text": "..."}
//   GET  /api/conversations?since=VERSION
//   GET  /api/conversations/C/V/messages?after=
//   POST /api/conversations/C/V/messages        {"text": "..."}
//   POST /api/conversations/C/V/read
#pragma once

#include <httplib.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "chat_store.h"

namespace parlex::demo {

// The longest text message, in bytes of UTF-8.
constexpr size_t kMaxTextBytes = 4096;

// How long a long-polling request waits before it answers "nothing new".
constexpr std::chrono::seconds kLongPoll{25};

void AddChatRoutes(httplib::Server& server, ChatStore& store);

// A message as both pages and the image endpoint's callers see it.
nlohmann::json ToJson(const ChatMessage& message);

}  // namespace parlex::demo
