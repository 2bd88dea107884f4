// A Transport that plays a raw reply from memory and records every step the
// client takes, with its arguments, as one line of text. Lets the core's
// tests check the exact sequence the WinINet transport will see, and feeds
// raw reply bytes to the reply reader without a socket.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "net/reply_reader.h"
#include "http/http_seams.h"
#include "http/transport.h"

namespace parlex::test {

class MemoryTransport : public Transport {
 public:
  struct Script {
    std::string reply;           // raw bytes the "server" sends
    size_t chunk = 1 << 20;      // largest piece one receive delivers
    std::string failAt;          // name of the step that fails ("" for none)
    uint32_t failError = 12029;  // ERROR_INTERNET_CANNOT_CONNECT
    size_t failReadAfter = 0;    // with failAt "Read": bytes delivered before the failure
  };

  static Script MakeScript(std::string reply, size_t chunk = 1 << 20, std::string failAt = {},
                           uint32_t failError = 12029, size_t failReadAfter = 0) {
    Script s;
    s.reply = std::move(reply);
    s.chunk = chunk;
    s.failAt = std::move(failAt);
    s.failError = failError;
    s.failReadAfter = failReadAfter;
    return s;
  }

  // Steps and open handles outlive the transport (the client owns it).
  struct Log {
    std::vector<std::string> steps;
    std::string body;  // the bytes sent as body
    int open = 0;      // handles open right now
  };

  MemoryTransport(Script script, Log* log) : script_(std::move(script)), log_(log) {}

  bool Open(std::u16string_view agent, const TransportTimeouts& t) override {
    if (!Step("Open " + ToUtf8(agent) + " " + std::to_string(t.connectMs) + " " + std::to_string(t.idleMs)))
      return false;
    ++log_->open;
    return true;
  }
  bool Connect(std::u16string_view host, uint16_t port, uint32_t flags) override {
    if (!Step("Connect " + ToUtf8(host) + " " + std::to_string(port) + " " + Hex(flags))) return false;
    ++log_->open;
    return true;
  }
  bool AttemptConnect() override { return Step("AttemptConnect"); }
  bool OpenRequest(std::u16string_view verb, std::u16string_view path, const char16_t* const* accept,
                   uint32_t flags) override {
    std::string types = accept == nullptr ? "(none)" : "";
    for (auto t = accept; t != nullptr && *t != nullptr; ++t) {
      types += '[';  // appended piecewise: gcc 12 warns falsely on "[" + std::string&&
      types += ToUtf8(*t);
      types += ']';
    }
    if (!Step("OpenRequest " + ToUtf8(verb) + " '" + ToUtf8(path) + "' " + types + " " + Hex(flags)))
      return false;
    ++log_->open;

    return true;
  }
  bool AddHeaders(std::u16string_view lines, uint32_t mode) override {
    return Step("AddHeaders " + ToUtf8(lines) + "|" + std::to_string(lines.size()) + " " + Hex(mode));
  }
  bool Send(std::u16string_view extra, const void* body, size_t length) override {
    if (!Step("Send " + ToUtf8(extra) + "|" + std::to_string(extra.size()) + " " + std::to_string(length)))
      return false;
    log_->body.assign(static_cast<const char*>(body), length);
    return Head();
  }
  bool BeginSend() override { return Step("BeginSend"); }
  bool Write(const void* data, size_t length, size_t* written) override {
    *written = 0;
    if (!Step("Write " + std::to_string(length))) return false;
    log_->body.append(static_cast<const char*>(data), length);
    *written = length;
    return true;
  }
  bool EndSend() override { return Step("EndSend") && Head(); }
  bool Read(void* buffer, size_t capacity, size_t* got) override {
    *got = 0;
    if (script_.failAt == "Read" && delivered_ >= script_.failReadAfter) return Fail();
    if (!reader_.ReadBody(Source(), static_cast<char*>(buffer), capacity, got)) return Fail();
    delivered_ += *got;
    return true;
  }
  bool QueryRawHeaders(size_t capacity, std::u16string* headers) override {
    if (!Step("QueryRawHeaders " + std::to_string(capacity))) return false;
    std::u16string text = FromUtf8(reader_.HeadBlock());
    if (!reader_.HeadComplete()) return Fail();
    if (text.size() + 1 > capacity) {
      error_ = 122;
      return false;
    }
    *headers = text;
    return true;
  }
  void CloseRequest() override { Close("CloseRequest"); }
  void CloseConnection() override { Close("CloseConnection"); }
  void CloseRoot() override { Close("CloseRoot"); }
  uint32_t LastError() const override { return error_; }

 private:
  static std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
  }
  bool Fail() {
    error_ = script_.failError;
    return false;
  }
  bool Step(std::string line) {
    std::string name = line.substr(0, line.find(' '));
    log_->steps.push_back(std::move(line));
    return name == script_.failAt ? Fail() : true;
  }
  void Close(const char* what) {
    log_->steps.push_back(what);
    --log_->open;
  }
  ReplyReader::Source Source() {
    return [this](char* buffer, size_t capacity) -> ptrdiff_t {
      size_t n = std::min({capacity, script_.chunk, script_.reply.size() - offset_});
      std::copy_n(script_.reply.data() + offset_, n, buffer);
      offset_ += n;
      return static_cast<ptrdiff_t>(n);
    };
  }
  bool Head() {
    reader_.Reset();
    if (reader_.ReadHead(Source()) != ReplyReader::Status::kOk) {
      error_ = 12152;  // ERROR_HTTP_INVALID_SERVER_RESPONSE
      return false;
    }
    return true;
  }

  Script script_;
  Log* log_;
  ReplyReader reader_;
  size_t offset_ = 0;
  size_t delivered_ = 0;
  uint32_t error_ = 0;
};

// A MIME table of the tests' own, so that no expectation is computed by the
// code under test: ".jpg" in any case is "image/x-test-jpeg", nothing else
// is registered.
inline std::u16string FakeMimeTypes(std::u16string_view key) {
  std::u16string lower(key);
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return lower == u".jpg" ? u"image/x-test-jpeg" : u"";
}

}  // namespace parlex::test
