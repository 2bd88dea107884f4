// What the HTTP core needs from the platform, handed in by whoever makes a
// client: a way to make the transport (WinINet, or the socket transport) and
// the system's table of MIME types. The core never reaches for either by
// itself, so its tests run over a memory transport and a table of their own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http/transport.h"

namespace parlex {

using TransportFactory = std::function<std::unique_ptr<Transport>()>;
// The type the system registers for a key such as u".jpg"; empty when none.
using MimeTypeLookup = std::function<std::u16string(std::u16string_view key)>;

struct HttpSeams {
  TransportFactory makeTransport;
  MimeTypeLookup mimeTypeOf;
};

// The platform's own: defined by the platform half of the http library
// (parlex_http_win32 or parlex_http_posix), which its callers link.
HttpSeams PlatformHttpSeams();

}  // namespace parlex
