#include "net/request_target.h"

namespace parlex {

std::string EncodeRequestTarget(std::string_view pathAndQuery) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string target = pathAndQuery.empty() || pathAndQuery.front() != '/' ? "/" : "";
  for (char c : pathAndQuery) {
    auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) {
      target += '%';
      target += kHex[b >> 4];
      target += kHex[b & 15];
    } else {
      target += c;
    }
  }
  return target;
}

}  // namespace parlex
