// The HTML pages the service hands out.
#pragma once

#include <string_view>

namespace parlex::demo {

// The agent page ("/embeded") that the program shows: the conversations,
// the chosen one's messages and a reply box, every call of the program's
// script bridge (the capture for the chosen conversation), and onFileSent.
std::string_view AgentPage();

// The visitor page ("/visitor"), for any browser: one visitor's
// conversation with the agent, the agent's captures shown inline.
std::string_view VisitorPage();

// The script both pages load ("/chat.js"): their request to the service.
std::string_view ChatScript();

}  // namespace parlex::demo
