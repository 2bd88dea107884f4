#include "http/generic_http_client.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/text.h"
#include "http/split_url.h"

namespace parlex {

namespace {

// Platform error codes the client records for failures of its own.
constexpr uint32_t kErrorNotEnoughMemory = 8;       // ERROR_NOT_ENOUGH_MEMORY
constexpr uint32_t kErrorInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
constexpr uint32_t kErrorInvalidUrl = 12005;        // ERROR_INTERNET_INVALID_URL

constexpr uint32_t kConnectionFlags = kFlagNoCacheWrite | kFlagKeepConnection;

const char16_t* const kAcceptAll[] = {u"*/*", nullptr};

// A kept body that was cut at the buffer's end may end inside a UTF-8
// sequence; that partial character is dropped rather than decoded as U+FFFD.
std::string_view DropPartialTail(std::string_view bytes) {
  size_t n = bytes.size();
  size_t lead = n;
  while (lead > 0 && n - lead < 3 && (static_cast<unsigned char>(bytes[lead - 1]) & 0xC0) == 0x80) --lead;
  if (lead == 0) return bytes;
  unsigned char c = static_cast<unsigned char>(bytes[lead - 1]);
  size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  if (length > 1 && (lead - 1) + length > n) return bytes.substr(0, lead - 1);
  return bytes;
}

}  // namespace

GenericHTTPClient::GenericHTTPClient(const HttpSeams& seams)
    : GenericHTTPClient(seams.makeTransport ? seams.makeTransport() : nullptr, seams.mimeTypeOf) {}

GenericHTTPClient::GenericHTTPClient(std::unique_ptr<Transport> transport, MimeTypeLookup mimeTypeOf)
    : transport_(std::move(transport)), mimeTypeOf_(std::move(mimeTypeOf)) {}

GenericHTTPClient::~GenericHTTPClient() = default;

bool GenericHTTPClient::Execute(std::u16string_view url, int kind, std::u16string_view agent) {
  if (url.size() > kMaxUrlUnits) {
    lastError_ = kErrorInvalidUrl;
    return false;
  }
  UrlParts parts = SplitUrl(url);
  if (parts.port == 0 || parts.port > 65535) {
    lastError_ = kErrorInvalidUrl;
    return false;
  }
  // A URL-encoded text over its room is refused before anything is opened.
  if (kind == reqFormPost) {
    try {
      if (BuildFormBody().size() > kMaxFormTextUnits) {
        lastError_ = kErrorInsufficientBuffer;
        return false;
      }
    } catch (const std::bad_alloc&) {
      lastError_ = kErrorNotEnoughMemory;
      return false;
    }
  }
  // Only the exact scheme "https" chooses TLS, as it alone chooses port 443.
  uint32_t flags = kConnectionFlags | (parts.scheme == u"https" ? kFlagSecure : 0);
  if (!OpenConnection(parts.host, agent, static_cast<uint16_t>(parts.port), flags)) return false;

  bool ok = false;
  if (SendRequest(parts.path, kind, flags)) {
    std::u16string headers;
    char body[kReplyBytes] = {};
    size_t bodyLength = 0;
    if (ReadReply(&headers, kHeaderCapacityUnits, body, sizeof body, &bodyLength)) {
      std::string_view kept(body, bodyLength);
      kept = kept.substr(0, kept.find('\0'));
      if (bodyLength == sizeof body) kept = DropPartialTail(kept);
      std::u16string text = FromUtf8(kept);
      replyText_ = CutAtUnits(text, kMaxReplyUnits);
      replyHeaders_ = std::move(headers);
      ok = true;
    }
  }
  CloseAll();
  return ok;
}

bool GenericHTTPClient::OpenConnection(std::u16string_view host, std::u16string_view agent, uint16_t port,
                                       uint32_t flags) {
  if (!transport_->Open(agent, timeouts_)) return Fail();
  rootOpen_ = true;
  if (!transport_->Connect(host, port, flags)) {
    Fail();
    CloseAll();
    return false;
  }
  connectionOpen_ = true;
  if (!transport_->AttemptConnect()) {
    Fail();
    CloseAll();
    return false;
  }
  return true;
}

bool GenericHTTPClient::SendRequest(std::u16string_view path, int kind, uint32_t flags) {
  switch (kind) {
    case reqFormPost:
      return SendFormPost(path, flags);
    case reqMultipartPost:
      return SendMultipartPost(path, flags);
    default:
      return SendGet(path, flags);
  }
}

bool GenericHTTPClient::SendGet(std::u16string_view path, uint32_t flags) {
  if (!transport_->OpenRequest(u"GET", path, kAcceptAll, flags)) return Fail();
  requestOpen_ = true;
  if (!transport_->AddHeaders(u"Accept: */*\r\n", kAddReplace)) return Fail();
  if (!transport_->Send({}, nullptr, 0)) return Fail();
  return true;
}

bool GenericHTTPClient::SendFormPost(std::u16string_view path, uint32_t flags) {
  std::string body;
  try {
    std::u16string text = BuildFormBody();
    // The text has a fixed room of 1023 units; a longer one is refused, not cut.
    if (text.size() > kMaxFormTextUnits) {
      lastError_ = kErrorInsufficientBuffer;
      return false;
    }
    body = ToUtf8(text);
  } catch (const std::bad_alloc&) {
    lastError_ = kErrorNotEnoughMemory;
    return false;
  }
  if (!transport_->OpenRequest(u"POST", path, kAcceptAll, flags | kFlagFormsSubmit)) return Fail();
  requestOpen_ = true;
  if (!transport_->AddHeaders(u"Accept: */*\r\n", kAddReplace)) return Fail();
  if (!transport_->Send(u"Content-Type: application/x-www-form-urlencoded\r\n", body.data(), body.size()))
    return Fail();
  return true;
}

bool GenericHTTPClient::SendMultipartPost(std::u16string_view path, uint32_t flags) {
  // The body is built before the request opens: without it there is no request.
  std::optional<std::string> body = BuildMultipartBody(kMultipartBoundary);
  if (!body) {
    lastError_ = kErrorNotEnoughMemory;
    return false;
  }
  if (!transport_->OpenRequest(u"POST", path, nullptr, flags | kFlagFormsSubmit)) return Fail();
  requestOpen_ = true;
  if (!transport_->AddHeaders(u"Accept: */*\r\n", kAddAdd)) return Fail();
  std::u16string type = u"Content-Type: multipart/form-data; boundary=";
  type += kMultipartBoundary;
  type += u"\r\n";
  if (!transport_->AddHeaders(type, kAddIfNew)) return Fail();
  std::u16string length = u"Content-Length: " + Widen(std::to_string(body->size())) + u"\r\n";
  if (!transport_->AddHeaders(length, kAddIfNew)) return Fail();
  if (!transport_->BeginSend()) return Fail();
  size_t written = 0;
  if (!transport_->Write(body->data(), body->size(), &written)) return Fail();
  if (written != body->size()) return Fail();
  if (!transport_->EndSend()) return Fail();
  return true;
}

bool GenericHTTPClient::ReadReply(std::u16string* headers, size_t headerCapacityUnits, char* body,
                                  size_t bodyCapacity, size_t* bodyLength) {
  if (!requestOpen_) {
    lastError_ = kErrorNoRequest;
    return false;
  }
  std::memset(body, 0, bodyCapacity);
  *bodyLength = 0;
  char chunk[1024];
  for (;;) {
    std::memset(chunk, 0, sizeof chunk);
    size_t got = 0;
    if (!transport_->Read(chunk, sizeof chunk, &got)) {
      // The body ends here; whatever arrived still counts.
      lastError_ = transport_->LastError();
      break;
    }
    if (got == 0) break;
    if (*bodyLength >= bodyCapacity) break;
    size_t take = std::min(got, bodyCapacity - *bodyLength);
    std::memcpy(body + *bodyLength, chunk, take);
    *bodyLength += take;
  }
  headers->clear();
  if (!transport_->QueryRawHeaders(headerCapacityUnits, headers)) return Fail();
  return *bodyLength != 0;
}

void GenericHTTPClient::CloseAll() {
  if (requestOpen_) transport_->CloseRequest();
  if (connectionOpen_) transport_->CloseConnection();
  if (rootOpen_) transport_->CloseRoot();
  requestOpen_ = connectionOpen_ = rootOpen_ = false;
}

}  // namespace parlex
