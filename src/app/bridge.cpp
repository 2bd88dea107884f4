#include "app/bridge.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/text.h"

namespace parlex::app {

std::optional<int32_t> BridgeDispIdOf(std::u16string_view name) {
  for (const BridgeName& row : kBridgeNames) {
    if (row.name == name) return row.dispid;
  }
  return std::nullopt;
}

BridgeCall DecideBridgeCall(int32_t dispid, const IBridgeArgs& args) {
  BridgeCall call;
  switch (dispid) {
    case kDispMaxmize:
      call.op = BridgeOp::kMaximize;
      break;
    case kDispQuit:
      call.op = BridgeOp::kQuit;
      break;
    case kDispEmbeded:
      call.op = BridgeOp::kEmbeded;
      break;
    case kDispNotify: {
      if (args.Count() != 2) break;
      // Reverse order: element 1 is the script's first argument.
      std::optional<std::u16string> title = args.Text(1);
      std::optional<std::u16string> text = args.Text(0);
      if (!title || !text) break;
      call.op = BridgeOp::kNotify;
      call.title = std::move(*title);
      call.text = std::move(*text);
      break;
    }
    case kDispCapture: {
      if (args.Count() != 2) break;
      std::optional<int32_t> company = args.Int32(1);
      std::optional<int32_t> visitor = args.Int32(0);
      if (!company || !visitor) break;
      call.op = BridgeOp::kCapture;
      call.companyId = *company;
      call.visitorId = *visitor;
      break;
    }
    default:
      break;
  }
  return call;
}

std::u16string BalloonTitle(std::u16string_view title) {
  return std::u16string(CutAtUnits(title, kBalloonTitleUnits));
}

std::u16string BalloonText(std::u16string_view text) {
  return std::u16string(CutAtUnits(text, kBalloonTextUnits));
}

namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::u16string Lowered(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = Lower(c);
  return out;
}

struct Origin {
  std::u16string scheme;
  std::u16string host;
  uint32_t port = 0;
};

// scheme "://" [userinfo "@"] host [":" port] then "/", "?", "#" or the end.
// Only http and https have an origin the chat service can have.
std::optional<Origin> OriginOf(std::u16string_view url) {
  size_t colon = url.find(u"://");
  if (colon == std::u16string_view::npos) return std::nullopt;
  Origin origin;
  origin.scheme = Lowered(url.substr(0, colon));
  if (origin.scheme != u"http" && origin.scheme != u"https") return std::nullopt;
  std::u16string_view rest = url.substr(colon + 3);
  size_t end = rest.find_first_of(u"/?#\\");
  std::u16string_view authority = rest.substr(0, end);
  size_t at = authority.rfind(u'@');
  if (at != std::u16string_view::npos) authority.remove_prefix(at + 1);
  std::u16string_view host = authority;
  std::u16string_view port;
  if (!authority.empty() && authority.front() == u'[') {
    size_t close = authority.find(u']');
    if (close == std::u16string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    std::u16string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != u':') return std::nullopt;
      port = after.substr(1);
    }
  } else {
    size_t portColon = authority.find(u':');
    if (portColon != std::u16string_view::npos) {
      host = authority.substr(0, portColon);
      port = authority.substr(portColon + 1);
    }
  }
  if (host.empty()) return std::nullopt;
  origin.host = Lowered(host);
  if (port.empty()) {
    origin.port = origin.scheme == u"https" ? 443 : 80;
  } else {
    if (port.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (char16_t c : port) {
      if (c < u'0' || c > u'9') return std::nullopt;
      value = value * 10 + static_cast<uint32_t>(c - u'0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    origin.port = value;
  }
  return origin;
}

}  // namespace

bool IsChatOrigin(std::u16string_view address, std::u16string_view chatBaseUrl) {
  std::optional<Origin> page = OriginOf(address);
  std::optional<Origin> chat = OriginOf(chatBaseUrl);
  if (!page || !chat) return false;
  return page->scheme == chat->scheme && page->host == chat->host && page->port == chat->port;
}

namespace {

// Round half to even, as the automation conversions to integers do; none
// outside the 32-bit range.
std::optional<int32_t> RoundToInt32(double n) {
  if (!std::isfinite(n)) return std::nullopt;
  double rounded = std::nearbyint(n);  // the default rounding mode: to nearest, ties to even
  if (rounded < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::nullopt;
  }
  return static_cast<int32_t>(rounded);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// A decimal number, with sign, fraction and exponent, between blanks.
std::optional<double> ParseNumber(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty() || text.size() > 64) return std::nullopt;
  std::string ascii;
  for (char16_t c : text) {
    bool allowed = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.' || c == u'e' || c == u'E';
    if (!allowed) return std::nullopt;
    ascii.push_back(static_cast<char>(c));
  }
  char* end = nullptr;
  double value = std::strtod(ascii.c_str(), &end);
  if (end != ascii.c_str() + ascii.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::u16string> ScriptValueToText(const ScriptValue& value) {
  switch (value.kind) {
    case ScriptValue::Kind::kUndefined:
      return std::u16string();
    case ScriptValue::Kind::kBool:
      return std::u16string(value.boolean ? u"-1" : u"0");
    case ScriptValue::Kind::kNumber: {
      if (!std::isfinite(value.number)) return std::nullopt;
      if (value.number == std::trunc(value.number) && std::fabs(value.number) < 1e15) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.0f", value.number);
        return Widen(buffer);
      }
      char buffer[40];
      for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, value.number);
        if (std::strtod(buffer, nullptr) == value.number) break;
      }
      return Widen(buffer);
    }
    case ScriptValue::Kind::kString:
      return value.text;
    case ScriptValue::Kind::kNull:
    case ScriptValue::Kind::kObject:
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<int32_t> ScriptValueToInt32(const ScriptValue& value) {
  switch (value.kind) {
    case ScriptValue::Kind::kUndefined:
      return 0;
    case ScriptValue::Kind::kBool:
      return value.boolean ? -1 : 0;
    case ScriptValue::Kind::kNumber:
      return RoundToInt32(value.number);
    case ScriptValue::Kind::kString: {
      std::optional<double> number = ParseNumber(value.text);
      if (!number) return std::nullopt;
      return RoundToInt32(*number);
    }
    case ScriptValue::Kind::kNull:
    case ScriptValue::Kind::kObject:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace parlex::app
