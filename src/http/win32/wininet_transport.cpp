#include "http/win32/wininet_transport.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/http_seams.h"
#include "platform/win32/wide_text.h"

namespace parlex {

HttpSeams PlatformHttpSeams() {
  return {[] { return std::make_unique<win32::WinInetTransport>(); }, win32::LookupRegistryMimeType};
}

namespace win32 {

namespace {

static_assert(sizeof(INTERNET_BUFFERSW) == 40, "the buffers record of HttpSendRequestExW is 40 bytes");

// The API wants terminated texts; the seam hands views.
std::wstring Terminated(std::u16string_view text) { return ToWide(text); }

DWORD Millis(int ms) { return ms > 0 ? static_cast<DWORD>(ms) : 1; }

// The first size tried for the reply's header block, in bytes. Ordinary
// replies fit; larger ones are asked for again at the size WinINet names.
constexpr DWORD kFirstHeaderBytes = 1024;

}  // namespace

using net::win32::CallEnd;
using net::win32::CallProgress;
using net::win32::CallWait;
using net::win32::InternetHandle;

void CALLBACK WinInetTransport::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  switch (status) {
    // A reused connection reports no connect, but sending means connected.
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_SENDING_REQUEST:
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RECEIVING_RESPONSE:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      break;
    default:
      return;
  }
  if (auto* progress = reinterpret_cast<CallProgress*>(context)) progress->Report();
}

bool WinInetTransport::SendBounded(std::function<BOOL(HINTERNET request)> send) {
  struct Outcome {
    BOOL ok = FALSE;
    DWORD error = 0;
  };
  auto outcome = std::make_shared<Outcome>();
  auto job = [request = request_, send = std::move(send), outcome] {
    outcome->ok = send(request->get());
    outcome->error = outcome->ok ? 0 : ::GetLastError();
  };
  CallWait wait;
  wait.firstMs = static_cast<int>(Millis(timeouts_.connectMs));
  wait.thenMs =
      static_cast<int>(std::min<int64_t>(2 * static_cast<int64_t>(Millis(timeouts_.idleMs)), INT32_MAX));
  wait.progress = progress_.get();
  switch (net::win32::RunBounded(request_, std::move(job), wait)) {
    case CallEnd::kEnded:
      return outcome->ok ? true : Fail(outcome->error);
    case CallEnd::kTimedOut:
      // The call keeps the request, and through it the connection and the
      // root: they are closed when it ends.
      request_.reset();
      connection_.reset();
      root_.reset();
      progress_.reset();
      return Fail(ERROR_INTERNET_TIMEOUT);
    case CallEnd::kBusy:
      return Fail(ERROR_BUSY);
    case CallEnd::kNoThread:
      break;
  }
  return Fail(ERROR_NOT_ENOUGH_MEMORY);  // no thread to be had
}

WinInetTransport::~WinInetTransport() { CloseRoot(); }

bool WinInetTransport::Fail() { return Fail(::GetLastError()); }

// Each handle carries the bounds: WinINet copies them from the root to what
// it opens below, but not every implementation does, so each level gets its
// own. A failure to set one is not fatal: the default bounds still apply.
void WinInetTransport::SetTimeouts(HINTERNET handle) {
  DWORD connect = Millis(timeouts_.connectMs);
  DWORD idle = Millis(timeouts_.idleMs);
  ::InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  ::InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &idle, sizeof idle);
  ::InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &idle, sizeof idle);
}

bool WinInetTransport::Open(std::u16string_view agent, const TransportTimeouts& timeouts) {
  CloseRoot();
  timeouts_ = timeouts;
  std::wstring text = Terminated(agent);
  root_ =
      InternetHandle::Adopt(::InternetOpenW(text.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (root_ == nullptr) return Fail();
  SetTimeouts(root_->get());
  // Handles opened below the root inherit the callback.
  ::InternetSetStatusCallbackW(root_->get(), &StatusCallback);
  return true;
}

bool WinInetTransport::Connect(std::u16string_view host, uint16_t port, uint32_t flags) {
  if (root_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (aborted_) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  CloseConnection();
  std::wstring name = Terminated(host);
  connection_ = InternetHandle::Adopt(
      ::InternetConnectW(root_->get(), name.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, flags, 0),
      root_);
  if (connection_ == nullptr) return Fail();
  SetTimeouts(connection_->get());
  return true;
}

bool WinInetTransport::AttemptConnect() {
  DWORD result = ::InternetAttemptConnect(0);
  return result == ERROR_SUCCESS ? true : Fail(result);
}

bool WinInetTransport::OpenRequest(std::u16string_view verb, std::u16string_view path,
                                   const char16_t* const* acceptTypes, uint32_t flags) {
  if (connection_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (aborted_) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  CloseRequest();
  std::wstring verbText = Terminated(verb);
  std::wstring pathText = Terminated(path);
  // char16_t and wchar_t are both UTF-16 units here: the list has the
  // layout WinINet expects.
  auto types = const_cast<LPCWSTR*>(reinterpret_cast<const wchar_t* const*>(acceptTypes));
  // The status callback is only called for handles with a context; the
  // request keeps what its context points to until it is closed.
  auto progress = std::make_shared<CallProgress>();
  request_ = InternetHandle::Adopt(
      ::HttpOpenRequestW(connection_->get(), verbText.c_str(), pathText.c_str(), L"HTTP/1.0", L"", types,
                         flags, reinterpret_cast<DWORD_PTR>(progress.get())),
      connection_, progress);
  if (request_ == nullptr) return Fail();
  progress_ = std::move(progress);
  SetTimeouts(request_->get());
  return true;
}

bool WinInetTransport::AddHeaders(std::u16string_view lines, uint32_t mode) {
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  std::wstring text = Terminated(lines);
  if (!::HttpAddRequestHeadersW(request_->get(), text.c_str(), static_cast<DWORD>(text.size()), mode))
    return Fail();
  return true;
}

bool WinInetTransport::Send(std::u16string_view extraHeaders, const void* body, size_t bodyLength) {
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (aborted_) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  // The send may outlive this call: it owns copies of the texts it sends.
  return SendBounded(
      [headers = Terminated(extraHeaders),
       data = std::string(static_cast<const char*>(body), bodyLength)](HINTERNET request) mutable {
        return ::HttpSendRequestW(request, headers.empty() ? nullptr : headers.c_str(),
                                  static_cast<DWORD>(headers.size()), data.data(),
                                  static_cast<DWORD>(data.size()));
      });
}

bool WinInetTransport::BeginSend() {
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (aborted_) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  return SendBounded([](HINTERNET request) {
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    return ::HttpSendRequestExW(request, &buffers, nullptr, HSR_INITIATE, 0);
  });
}

bool WinInetTransport::Write(const void* data, size_t length, size_t* written) {
  *written = 0;
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (aborted_) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  DWORD done = 0;
  if (!::InternetWriteFile(request_->get(), data, static_cast<DWORD>(length), &done)) return Fail();
  *written = done;
  return true;
}

bool WinInetTransport::EndSend() {
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (aborted_) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  if (!::HttpEndRequestW(request_->get(), nullptr, HSR_INITIATE, 0)) return Fail();
  return true;
}

bool WinInetTransport::Read(void* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (aborted_) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  // A blocking read waits to fill the whole chunk, and when the server
  // falls silent first it fails and the bytes it had taken are lost. So
  // wait for data first (bounded by the receive timeout) and read only what
  // is there; 0 available means the server has closed.
  DWORD available = 0;
  if (!::InternetQueryDataAvailable(request_->get(), &available, 0, 0)) return Fail();
  if (available == 0) return true;
  DWORD read = 0;
  DWORD want = static_cast<DWORD>(std::min<size_t>(available, capacity));
  if (!::InternetReadFile(request_->get(), buffer, want, &read)) return Fail();
  *got = read;
  return true;
}

bool WinInetTransport::QueryRawHeaders(size_t capacityUnits, std::u16string* headers) {
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  const size_t capacityBytes = capacityUnits * sizeof(wchar_t);
  DWORD bytes = static_cast<DWORD>(std::min<size_t>(kFirstHeaderBytes, capacityBytes));
  for (;;) {
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD length = bytes;
    if (::HttpQueryInfoW(request_->get(), HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr)) {
      // On success the length is that of the text, without its terminator.
      size_t units = std::min<size_t>(length / sizeof(wchar_t), buffer.size() - 1);
      *headers = FromWide(std::wstring_view(buffer.data(), units));
      return true;
    }
    DWORD error = ::GetLastError();
    // WinINet names the size it needs; anything beyond the caller's room is
    // refused with the same error it would give for a fixed buffer.
    if (error != ERROR_INSUFFICIENT_BUFFER || length <= bytes || length > capacityBytes) return Fail(error);
    bytes = length;
  }
}

void WinInetTransport::CloseRequest() {
  request_.reset();
  progress_.reset();
}

void WinInetTransport::CloseConnection() {
  CloseRequest();
  connection_.reset();
}

void WinInetTransport::CloseRoot() {
  CloseConnection();
  root_.reset();
}

}  // namespace win32
}  // namespace parlex
