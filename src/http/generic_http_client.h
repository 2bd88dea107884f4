// A synchronous HTTP/1.0 client: GET, URL-encoded form POST and
// multipart/form-data POST, one request at a time, over a Transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/form_field.h"
#include "http/http_seams.h"
#include "http/transport.h"

namespace parlex {

// Request kinds of Execute; every value other than 2 and 3 is a GET.
inline constexpr int reqGet = 1;
inline constexpr int reqFormPost = 2;
inline constexpr int reqMultipartPost = 3;

inline constexpr std::u16string_view kMultipartBoundary = u"--MULTI-PARTS-FORM-DATA-BOUNDARY";

class GenericHTTPClient {
 public:
  // Longest URL Execute takes, in UTF-16 units.
  static constexpr size_t kMaxUrlUnits = 1023;
  // Longest URL-encoded text SendFormPost sends, in UTF-16 units.
  static constexpr size_t kMaxFormTextUnits = 1023;
  // Reply bytes kept; the reply text holds at most kMaxReplyUnits units.
  static constexpr size_t kReplyBytes = 1024;
  static constexpr size_t kMaxReplyUnits = 1023;
  // The reply's header block may take this many UTF-16 units, terminator included.
  static constexpr size_t kHeaderCapacityUnits = 65536;
  // Error recorded when ReadReply finds no open request (ERROR_INVALID_HANDLE).
  static constexpr uint32_t kErrorNoRequest = 6;

  // Over a transport made by seams.makeTransport, file parts typed by
  // seams.mimeTypeOf (PlatformHttpSeams() for the platform's own).
  explicit GenericHTTPClient(const HttpSeams& seams);
  GenericHTTPClient(std::unique_ptr<Transport> transport, MimeTypeLookup mimeTypeOf);
  virtual ~GenericHTTPClient();
  GenericHTTPClient(const GenericHTTPClient&) = delete;
  GenericHTTPClient& operator=(const GenericHTTPClient&) = delete;

  // The bounds of every wait of the following requests.
  void SetTimeouts(const TransportTimeouts& timeouts) { timeouts_ = timeouts; }

  void ClearFields() { fields_.clear(); }
  // Appends a field; false (and nothing appended) when the name is over 255
  // or the value over 1023 UTF-16 units.
  bool AddField(std::u16string_view name, std::u16string_view value, bool isFile);
  // A plain field with the "%d" text of number.
  bool AddField(std::u16string_view name, int32_t number);
  const std::vector<FormField>& Fields() const { return fields_; }

  // One whole request: true when the connection opened, the request went out
  // and a non-empty reply with its headers came back; the reply text has then
  // been replaced. False otherwise, and the reply text is unchanged.
  bool Execute(std::u16string_view url, int kind, std::u16string_view agent);

  // From another thread while Execute runs: Execute fails as soon as the
  // transport lets go (Transport::Abort).
  void Abort() { transport_->Abort(); }

  // Valid until the next Execute or the object's end.
  std::u16string_view GetReplyText() const { return replyText_; }
  std::u16string_view GetReplyHeaders() const { return replyHeaders_; }
  uint32_t LastError() const { return lastError_; }

  // The URL-encoded text of the fields: name=value pairs joined by '&', put in
  // as they are (no percent-escaping).
  std::u16string BuildFormBody() const;
  // Bytes worth reserving for the multipart body.
  size_t EstimateMultipartSize() const;
  // The multipart/form-data body with the given boundary; nullopt when
  // memory ran out.
  std::optional<std::string> BuildMultipartBody(std::u16string_view boundary) const;

 protected:
  bool OpenConnection(std::u16string_view host, std::u16string_view agent, uint16_t port, uint32_t flags);
  bool SendRequest(std::u16string_view path, int kind, uint32_t flags);
  bool SendGet(std::u16string_view path, uint32_t flags);
  bool SendFormPost(std::u16string_view path, uint32_t flags);
  bool SendMultipartPost(std::u16string_view path, uint32_t flags);
  // Reads the body into body (at most bodyCapacity bytes kept) and then the
  // header block; true when both came and the body is not empty.
  bool ReadReply(std::u16string* headers, size_t headerCapacityUnits, char* body, size_t bodyCapacity,
                 size_t* bodyLength);

 private:
  void CloseAll();
  bool Fail() {
    lastError_ = transport_->LastError();
    return false;
  }

  std::vector<FormField> fields_;
  std::u16string replyText_;
  std::u16string replyHeaders_;
  std::unique_ptr<Transport> transport_;
  MimeTypeLookup mimeTypeOf_;
  // Which of the transport's three handles are open.
  bool rootOpen_ = false;
  bool connectionOpen_ = false;
  bool requestOpen_ = false;
  uint32_t lastError_ = 0;
  TransportTimeouts timeouts_;
};

// The file name a file part announces: the path's text after its last '\'
// or '/'.
std::u16string_view FileNameOfPath(std::u16string_view path);

}  // namespace parlex
