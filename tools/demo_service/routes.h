// The service's endpoints over its stores: the pages, the chat (chat_routes.h),
// the image endpoint, the stored images and the update files.
#pragma once

#include <httplib.h>

#include "chat_store.h"
#include "image_store.h"
#include "message_board.h"
#include "served_folder.h"

namespace parlex::demo {

// The largest image the endpoint takes.
constexpr size_t kMaxImageBytes = 20u << 20;

struct ServiceState {
  ImageStore images;
  ServedFolder uploads;  // the same folder as images, for reading back
  ServedFolder updates;  // empty when no update folder was given
  ChatStore& chat;
  // What the agent page reports of itself (loaded, a capture sent, a capture
  // call returned): for the developer watching the log and for tests.
  MessageBoard agentLog;
};

// Registers every route, the JSON error pages, the payload limit and the
// request log (one line per request on standard output).
void SetUpServer(httplib::Server& server, ServiceState& state);

}  // namespace parlex::demo
