// The HTML pages the service hands out.
#pragma once

#include <string_view>

namespace parlex::demo {

// The agent page ("/embeded") that the program shows: every call of the
// program's script bridge, the visitors' messages, and onFileSent.
std::string_view AgentPage();

// The visitor page ("/visitor"), for any browser: a text box whose messages
// the agent page shows.
std::string_view VisitorPage();

}  // namespace parlex::demo
