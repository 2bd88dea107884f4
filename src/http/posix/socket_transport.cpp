#include "http/posix/socket_transport.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "common/text.h"
#include "http/http_seams.h"
#include "net/request_target.h"

namespace parlex {

HttpSeams PlatformHttpSeams() {
  return {[] { return std::make_unique<posix::SocketTransport>(); }, posix::LookupSystemMimeType};
}

namespace posix {

namespace {

// Body bytes up to this size go out in one write together with the head.
constexpr size_t kCoalesceBytes = 16384;

}  // namespace

SocketTransport::SocketTransport() : abort_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  stream_.SetAbortFd(abort_.get());
}

void SocketTransport::Abort() {
  aborted_ = true;
  if (!abort_) return;
  const uint64_t one = 1;
  // The counter only needs to be non-zero; a full counter is as good.
  [[maybe_unused]] const ssize_t written = ::write(abort_.get(), &one, sizeof one);
}

bool SocketTransport::Open(std::u16string_view agent, const TransportTimeouts& timeouts) {
  agent_ = ToUtf8(agent);
  timeouts_ = timeouts;
  rootOpen_ = true;
  return true;
}

bool SocketTransport::Connect(std::u16string_view host, uint16_t port, uint32_t flags) {
  if (!rootOpen_) return Fail(EBADF);
  if (aborted_) return Fail(ECANCELED);
  int error = 0;
  if (!ConnectToServer(stream_, (flags & kFlagSecure) != 0, ToUtf8(host), port, timeouts_.connectMs, &route_,
                       &error))
    return Fail(error);
  return true;
}

bool SocketTransport::AttemptConnect() { return stream_.IsOpen() ? true : Fail(ENOTCONN); }

bool SocketTransport::OpenRequest(std::u16string_view verb, std::u16string_view path,
                                  const char16_t* const* acceptTypes, uint32_t /*flags*/) {
  if (!stream_.IsOpen()) return Fail(ENOTCONN);
  CloseRequest();
  verb_ = ToUtf8(verb);
  // A request line needs a path (the empty one means the root) and cannot
  // hold spaces or non-ASCII bytes.
  path_ = EncodeRequestTarget(ToUtf8(path));
  if (acceptTypes != nullptr && acceptTypes[0] != nullptr) {
    std::string types;
    for (const char16_t* const* t = acceptTypes; *t != nullptr; ++t) {
      if (!types.empty()) types += ", ";
      types += ToUtf8(*t);
    }
    headers_.emplace_back("Accept", types);
  }
  requestOpen_ = true;
  return true;
}

bool SocketTransport::AddHeaders(std::u16string_view lines, uint32_t mode) {
  if (!requestOpen_ || headSent_) return Fail(EBADF);
  std::string text = ToUtf8(lines);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return Fail(EINVAL);
    std::string name(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    auto found = headers_.end();
    for (auto it = headers_.begin(); it != headers_.end(); ++it) {
      if (EqualsIgnoringCase(it->first, name)) {
        found = it;
        break;
      }
    }
    if (found == headers_.end()) {
      headers_.emplace_back(std::move(name), std::string(value));
    } else if (mode & kAddIfNew) {
      return Fail(EEXIST);
    } else if (mode & kAddReplace) {
      found->second.assign(value);
    } else {
      headers_.emplace_back(std::move(name), std::string(value));
    }
  }
  return true;
}

std::string SocketTransport::RequestHead() const {
  std::string head = verb_ + " " + route_.Target(path_) + " HTTP/1.0\r\n";
  if (!agent_.empty()) head += "User-Agent: " + agent_ + "\r\n";
  head += "Host: " + route_.hostLine + "\r\n" + route_.ProxyLines();
  for (const auto& [name, value] : headers_) head += name + ": " + value + "\r\n";
  head += "\r\n";
  return head;
}

bool SocketTransport::Send(std::u16string_view extraHeaders, const void* body, size_t bodyLength) {
  if (!requestOpen_ || headSent_) return Fail(EBADF);
  if (!extraHeaders.empty() && !AddHeaders(extraHeaders, kAddReplace | kAddAdd)) return false;
  if (bodyLength > 0 || verb_ == "POST") {
    if (!AddHeaders(u"Content-Length: " + Widen(std::to_string(bodyLength)), kAddReplace | kAddAdd))
      return false;
  }
  std::string head = RequestHead();
  headSent_ = true;
  if (bodyLength <= kCoalesceBytes) {
    head.append(static_cast<const char*>(body), bodyLength);
    if (!stream_.SendAll(head.data(), head.size(), timeouts_.idleMs)) return Fail(stream_.LastError());
  } else if (!stream_.SendAll(head.data(), head.size(), timeouts_.idleMs) ||
             !stream_.SendAll(body, bodyLength, timeouts_.idleMs)) {
    return Fail(stream_.LastError());
  }
  return ReceiveHead();
}

bool SocketTransport::BeginSend() {
  if (!requestOpen_ || headSent_) return Fail(EBADF);
  std::string head = RequestHead();
  headSent_ = true;
  if (!stream_.SendAll(head.data(), head.size(), timeouts_.idleMs)) return Fail(stream_.LastError());
  return true;
}

bool SocketTransport::Write(const void* data, size_t length, size_t* written) {
  *written = 0;
  if (!headSent_ || reply_.HeadComplete()) return Fail(EBADF);
  if (!stream_.SendAll(data, length, timeouts_.idleMs)) return Fail(stream_.LastError());
  *written = length;
  return true;
}

bool SocketTransport::EndSend() {
  if (!headSent_) return Fail(EBADF);
  return ReceiveHead();
}

ReplyReader::Source SocketTransport::Source() {
  return
      [this](char* buffer, size_t capacity) { return stream_.Receive(buffer, capacity, timeouts_.idleMs); };
}

bool SocketTransport::ReceiveHead() {
  reply_.Reset();
  switch (reply_.ReadHead(Source())) {
    case ReplyReader::Status::kOk:
      return true;
    case ReplyReader::Status::kSourceFailed:
      return Fail(stream_.LastError());
    case ReplyReader::Status::kClosedEarly:
      return Fail(ECONNRESET);
    case ReplyReader::Status::kTooLarge:
      return Fail(EMSGSIZE);
    case ReplyReader::Status::kMalformed:
      return Fail(EPROTO);
  }
  return Fail(EPROTO);
}

bool SocketTransport::Read(void* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (!reply_.HeadComplete()) return Fail(EBADF);
  if (!reply_.ReadBody(Source(), static_cast<char*>(buffer), capacity, got)) return Fail(stream_.LastError());
  return true;
}

bool SocketTransport::QueryRawHeaders(size_t capacityUnits, std::u16string* headers) {
  if (!reply_.HeadComplete()) return Fail(ENODATA);
  std::u16string text = FromUtf8(reply_.HeadBlock());
  if (text.size() + 1 > capacityUnits) return Fail(ENOBUFS);
  *headers = std::move(text);
  return true;
}

void SocketTransport::CloseRequest() {
  requestOpen_ = false;
  headSent_ = false;
  verb_.clear();
  path_.clear();
  headers_.clear();
  reply_.Reset();
}

void SocketTransport::CloseConnection() {
  CloseRequest();
  stream_.Close();
  route_ = ServerRoute();
}

void SocketTransport::CloseRoot() {
  CloseConnection();
  rootOpen_ = false;
}

}  // namespace posix
}  // namespace parlex
