#include "app/address_settings.h"

#include <cstdint>

#include "common/text.h"

namespace parlex::app {
namespace {

constexpr std::u16string_view kUploadPath = u"resource/staff/image";
// A refused value is quoted up to this many units.
constexpr size_t kQuotedUnits = 200;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsAsciiAlnum(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// A host name, an IPv4 address or a bracketed IPv6 address, with an
// optional port.
bool IsValidAuthority(std::u16string_view authority) {
  std::u16string_view host = authority;
  std::u16string_view port;
  if (!authority.empty() && authority.front() == u'[') {
    const size_t close = authority.find(u']');
    if (close == std::u16string_view::npos || close < 2) return false;
    for (char16_t c : authority.substr(1, close - 1))
      if (!(IsAsciiAlnum(c) || c == u':' || c == u'.')) return false;
    host = authority.substr(0, close + 1);
    std::u16string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != u':') return false;
      port = rest.substr(1);
      if (port.empty()) return false;
    }
  } else {
    const size_t colon = authority.find(u':');
    if (colon != std::u16string_view::npos) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
      if (port.empty()) return false;
    }
    if (host.empty()) return false;
    for (char16_t c : host)
      if (!(IsAsciiAlnum(c) || c == u'-' || c == u'.' || c == u'_' || c >= 0x80)) return false;
  }
  if (!port.empty()) {
    if (port.size() > 5) return false;
    uint32_t number = 0;
    for (char16_t c : port) {
      if (c < u'0' || c > u'9') return false;
      number = number * 10 + static_cast<uint32_t>(c - u'0');
    }
    if (number == 0 || number > 65535) return false;
  }
  return true;
}

// The value as it may stand in a message: cut, and without a user name or
// password should it carry one.
std::u16string Quoted(std::u16string_view value) {
  std::u16string shown(CutAtUnits(value, kQuotedUnits));
  const size_t scheme = shown.find(u"://");
  const size_t start = scheme == std::u16string::npos ? 0 : scheme + 3;
  const size_t end = shown.find_first_of(u"/?#", start);
  const size_t at = shown.rfind(u'@', end == std::u16string::npos ? std::u16string::npos : end);
  if (at != std::u16string::npos && at >= start) shown = shown.substr(0, start) + u"…" + shown.substr(at);
  for (char16_t& c : shown)
    if (c < 0x20) c = u' ';
  return u"\"" + shown + (value.size() > kQuotedUnits ? u"…\"" : u"\"");
}

std::u16string Refusal(const std::u16string& source, std::u16string_view key, std::u16string_view value) {
  return source + u": " + std::u16string(key) + u" " + Quoted(value) +
         u" is not an absolute http or https address with a host (不是有效的 http/https 地址)";
}

}  // namespace

std::optional<std::u16string> NormaliseBaseUrl(std::u16string_view value) {
  const std::u16string_view url = Trim(value);
  for (char16_t c : url)
    if (c <= 0x20 || c == 0x7F || c == u'\\' || c == u'?' || c == u'#') return std::nullopt;
  const size_t colon = url.find(u"://");
  if (colon == std::u16string_view::npos) return std::nullopt;
  const std::u16string_view scheme = url.substr(0, colon);
  if (!EqualsIgnoringCase(scheme, u"http") && !EqualsIgnoringCase(scheme, u"https")) return std::nullopt;
  const std::u16string_view rest = url.substr(colon + 3);
  const size_t slash = rest.find(u'/');
  const std::u16string_view authority = rest.substr(0, slash);
  // A user name or password would end up in every request and log line.
  if (authority.find(u'@') != std::u16string_view::npos) return std::nullopt;
  if (!IsValidAuthority(authority)) return std::nullopt;
  std::u16string normal(url);
  if (normal.back() != u'/') normal += u'/';
  return normal;
}

AddressDecision DecideAddresses(const std::vector<SettingSource>& sources, std::u16string_view builtInChat,
                                std::u16string_view builtInUpdate) {
  AddressDecision decision;
  std::optional<AddressInEffect> chat;
  std::optional<AddressInEffect> update;
  for (const SettingSource& source : sources) {
    if (!source.error.empty()) {
      decision.error = source.error;
      return decision;
    }
    const std::pair<const std::optional<std::u16string>*, std::optional<AddressInEffect>*> both[] = {
        {&source.chatUrl, &chat}, {&source.updateUrl, &update}};
    for (const auto& [value, slot] : both) {
      if (!value->has_value()) continue;
      std::optional<std::u16string> url = NormaliseBaseUrl(**value);
      if (!url) {
        decision.error = Refusal(source.name, slot == &chat ? kChatUrlKey : kUpdateUrlKey, **value);
        return decision;
      }
      if (!slot->has_value()) *slot = AddressInEffect{std::move(*url), source.name};
    }
  }
  if (!chat) chat = AddressInEffect{std::u16string(builtInChat), kBuiltInSource};
  if (!update) update = AddressInEffect{std::u16string(builtInUpdate), kBuiltInSource};
  decision.addresses = AddressesInEffect{std::move(*chat), std::move(*update)};
  return decision;
}

SettingSource ParseConfText(std::string_view bytes, std::u16string name) {
  SettingSource source;
  source.name = std::move(name);
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const std::u16string text = FromUtf8(bytes);
  std::u16string_view rest = text;
  for (int lineNumber = 1; !rest.empty(); ++lineNumber) {
    const size_t end = rest.find(u'\n');
    const std::u16string_view line = Trim(rest.substr(0, end));
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
    if (line.empty() || line.front() == u'#' || line.front() == u';') continue;
    const size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos) {
      source.error = source.name + u" line " + FormatDecimal(lineNumber) + u": " + Quoted(line) +
                     u" is not a setting (Name=Value) (不是有效的设置行)";
      return source;
    }
    const std::u16string_view key = Trim(line.substr(0, equals));
    const std::u16string value(Trim(line.substr(equals + 1)));
    if (EqualsIgnoringCase(key, kChatUrlKey)) {
      source.chatUrl = value;
    } else if (EqualsIgnoringCase(key, kUpdateUrlKey)) {
      source.updateUrl = value;
    } else {
      source.notes.push_back(source.name + u" line " + FormatDecimal(lineNumber) + u": unknown setting " +
                             Quoted(key) + u" ignored");
    }
  }
  return source;
}

std::u16string UploadUrlForChat(std::u16string_view chatBaseUrl) {
  return std::u16string(chatBaseUrl) + std::u16string(kUploadPath);
}

}  // namespace parlex::app
