// The seam between GenericHTTPClient and the platform's HTTP service.
//
// The client drives one Transport through the same steps on every platform,
// in this order for one request:
//
//   Open(agent, timeouts)                         root handle
//   Connect(host, port, flags)                    connection handle
//   AttemptConnect()                              "is the network there at all"
//   OpenRequest(verb, path, accept, flags)        request handle, version "HTTP/1.0"
//   AddHeaders(line, mode) ...                    header lines with their add modes
//   Send(extraHeaders, body)                      GET and URL-encoded POST
//     or BeginSend(); Write(whole body); EndSend()   multipart POST
//   Read(chunk) ... until 0 bytes                 the reply body
//   QueryRawHeaders(capacity)                     status line and header lines, CR LF ends
//   CloseRequest(); CloseConnection(); CloseRoot()
//
// Each step answers false on failure and leaves its error code in
// LastError(). The Windows transport maps every step onto one WinINet call
// (InternetOpenW, InternetConnectW, InternetAttemptConnect, HttpOpenRequestW,
// HttpAddRequestHeadersW, HttpSendRequestW, HttpSendRequestExW,
// InternetWriteFile, HttpEndRequestW, InternetReadFile, HttpQueryInfoW with
// HTTP_QUERY_RAW_HEADERS_CRLF, InternetCloseHandle, GetLastError); the flag
// and mode values below are WinINet's own so they pass through unchanged.
// The socket transport puts the same request on the wire itself.
//
// A Transport object is reused: after the three Close calls it can be opened
// again for the next request. Closing something that is not open does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace parlex {

// Flags of Connect and OpenRequest (WinINet's INTERNET_FLAG_* values).
inline constexpr uint32_t kFlagNoCacheWrite = 0x04000000;    // INTERNET_FLAG_NO_CACHE_WRITE
inline constexpr uint32_t kFlagKeepConnection = 0x00400000;  // INTERNET_FLAG_KEEP_CONNECTION
inline constexpr uint32_t kFlagFormsSubmit = 0x00000040;     // INTERNET_FLAG_FORMS_SUBMIT
inline constexpr uint32_t kFlagSecure = 0x00800000;          // INTERNET_FLAG_SECURE: TLS

// Add modes of AddHeaders (WinINet's HTTP_ADDREQ_FLAG_* values).
inline constexpr uint32_t kAddReplace = 0x80000000;  // HTTP_ADDREQ_FLAG_REPLACE
inline constexpr uint32_t kAddAdd = 0x20000000;      // HTTP_ADDREQ_FLAG_ADD
inline constexpr uint32_t kAddIfNew = 0x10000000;    // HTTP_ADDREQ_FLAG_ADD_IF_NEW

// Every wait of a request is bounded. The defaults are the program's; tests
// inject short ones.
struct TransportTimeouts {
  int connectMs = 10000;  // establishing the connection
  int idleMs = 30000;     // each send or receive: longest silence tolerated
};

class Transport {
 public:
  virtual ~Transport() = default;

  // InternetOpenW(agent, INTERNET_OPEN_TYPE_PRECONFIG, no proxy, no bypass, 0),
  // then the three timeouts set on the root handle.
  virtual bool Open(std::u16string_view agent, const TransportTimeouts& timeouts) = 0;

  // InternetConnectW(root, host, port, no user, no password,
  // INTERNET_SERVICE_HTTP, flags, 0). flags holds kFlagSecure for "https":
  // the Windows transport then talks TLS, the socket transport refuses (false,
  // nothing sent). The socket transport opens the TCP connection here.
  virtual bool Connect(std::u16string_view host, uint16_t port, uint32_t flags) = 0;

  // InternetAttemptConnect(0) == 0.
  virtual bool AttemptConnect() = 0;

  // HttpOpenRequestW(connection, verb, path, "HTTP/1.0", no referrer,
  // acceptTypes, flags, 0). acceptTypes is a null-terminated list of types,
  // or nullptr for none (it has the layout of WinINet's LPCWSTR* once cast).
  virtual bool OpenRequest(std::u16string_view verb, std::u16string_view path,
                           const char16_t* const* acceptTypes, uint32_t flags) = 0;

  // HttpAddRequestHeadersW(request, lines, length, mode). lines is one or more
  // "Name: value\r\n" lines; mode is one of the kAdd* values.
  virtual bool AddHeaders(std::u16string_view lines, uint32_t mode) = 0;

  // HttpSendRequestW(request, extraHeaders, length, body, bodyLength); the
  // reply's status line and headers have arrived when it returns true.
  virtual bool Send(std::u16string_view extraHeaders, const void* body, size_t bodyLength) = 0;

  // HttpSendRequestExW(request, buffers record {size 40, rest zero}, no
  // output record, HSR_INITIATE, 0): sends the request head; the body's
  // length is the Content-Length line added before.
  virtual bool BeginSend() = 0;
  // InternetWriteFile(request, data, length, &written).
  virtual bool Write(const void* data, size_t length, size_t* written) = 0;
  // HttpEndRequestW(request, no output record, HSR_INITIATE, 0): the reply's
  // status line and headers have arrived when it returns true.
  virtual bool EndSend() = 0;

  // InternetReadFile(request, buffer, capacity, &got): *got == 0 once the
  // body is complete (the server has closed).
  virtual bool Read(void* buffer, size_t capacity, size_t* got) = 0;

  // HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, ...): the status line
  // and header lines, each ending in CR LF, then an empty line. Fails (with the
  // platform's insufficient-buffer error) when the block and a terminator do
  // not fit in capacityUnits UTF-16 units.
  virtual bool QueryRawHeaders(size_t capacityUnits, std::u16string* headers) = 0;

  // InternetCloseHandle on each handle that is open.
  virtual void CloseRequest() = 0;
  virtual void CloseConnection() = 0;
  virtual void CloseRoot() = 0;

  // The platform's error code recorded at the last failed step.
  virtual uint32_t LastError() const = 0;

  // From another thread, while a step runs or between steps: the request is
  // given up. The step in progress ends as soon as the platform lets it
  // (the socket transport at once; a WinINet call when its own bound
  // passes) and every later step fails, for good. A transport that cannot
  // interrupt anything leaves it to its bounds.
  virtual void Abort() {}
};

}  // namespace parlex
