// The request target of an HTTP request line, as every request of the Linux
// build writes it: spaces, control characters and non-ASCII bytes cannot
// stand in a request line and are percent-encoded (UTF-8 bytes, upper-case
// hex); everything else, '%' included, goes as it is. An empty target is
// the root.
#pragma once

#include <string>
#include <string_view>

namespace parlex {

std::string EncodeRequestTarget(std::string_view pathAndQuery);

}  // namespace parlex
