// How every endpoint answers: JSON bodies, errors as {"error": "..."}.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

namespace parlex::demo {

inline constexpr const char* kJsonType = "application/json; charset=utf-8";

// Invalid UTF-8 from a client becomes U+FFFD instead of an exception.
inline std::string Dump(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

inline void Reply(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  res.set_content(Dump(body), kJsonType);
}

inline void Error(httplib::Response& res, int status, const std::string& text) {
  Reply(res, status, nlohmann::json{{"error", text}});
}

}  // namespace parlex::demo
