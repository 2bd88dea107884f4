#include "http/win32/wininet_transport.h"

#include <algorithm>
#include <condition_variable>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
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

std::atomic<long> WinInetTransport::openHandles_{0};

// What the status callback has seen of one request, and the end of the
// blocking call made on it: both wake the caller that waits.
struct WinInetTransport::Phase {
  std::mutex mutex;
  std::condition_variable changed;
  bool pastConnect = false;
};

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
  auto* phase = reinterpret_cast<Phase*>(context);
  if (phase == nullptr) return;
  std::lock_guard lock(phase->mutex);
  phase->pastConnect = true;
  phase->changed.notify_all();
}

// One blocking call and everything it touches, shared by the caller and the
// helper thread so that a call given up on owns what it still uses.
struct WinInetTransport::Call {
  std::function<BOOL(HINTERNET request, Call& self)> run;
  std::wstring headers;
  std::string body;

  // The request's phase: its mutex also guards the fields below, and its
  // condition tells of the call's end. Held here so that the context the
  // status callback is given lives as long as the call.
  std::shared_ptr<Phase> phase;
  bool done = false;
  BOOL ok = FALSE;
  DWORD error = 0;
  // Handed over by a caller that stopped waiting: closed when the call ends.
  bool abandoned = false;
  HINTERNET handles[3] = {};
};

bool WinInetTransport::RunBounded(std::shared_ptr<Call> call) {
  HINTERNET request = request_;
  call->phase = phase_;
  Phase& phase = *call->phase;
  auto work = [call, request] {
    BOOL ok = call->run(request, *call);
    DWORD error = ok ? 0 : ::GetLastError();
    bool abandoned = false;
    {
      std::lock_guard lock(call->phase->mutex);
      call->done = true;
      call->ok = ok;
      call->error = error;
      abandoned = call->abandoned;
      call->phase->changed.notify_all();
    }
    // Closing reports to the status callback, which takes the lock.
    if (abandoned) {
      for (HINTERNET& handle : call->handles) Close(&handle);
    }
  };
  try {
    std::thread(std::move(work)).detach();
  } catch (const std::system_error&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);  // no thread to be had
  }

  std::unique_lock lock(phase.mutex);
  const auto connectBound = std::chrono::milliseconds(Millis(timeouts_.connectMs));
  const auto replyBound = std::chrono::milliseconds(2 * static_cast<int64_t>(Millis(timeouts_.idleMs)));
  if (phase.changed.wait_for(lock, connectBound, [&] { return call->done || phase.pastConnect; }) &&
      phase.changed.wait_for(lock, replyBound, [&] { return call->done; })) {
    return call->ok ? true : Fail(call->error);
  }
  // The call still uses the request, and its connection and root under it.
  call->abandoned = true;
  call->handles[0] = request_;
  call->handles[1] = connection_;
  call->handles[2] = root_;
  request_ = connection_ = root_ = nullptr;
  return Fail(ERROR_INTERNET_TIMEOUT);
}

WinInetTransport::~WinInetTransport() { CloseRoot(); }

bool WinInetTransport::Fail() { return Fail(::GetLastError()); }

HINTERNET WinInetTransport::Opened(HINTERNET handle) {
  if (handle != nullptr) ++openHandles_;
  return handle;
}

void WinInetTransport::Close(HINTERNET* handle) {
  if (*handle == nullptr) return;
  ::InternetCloseHandle(*handle);
  *handle = nullptr;
  --openHandles_;
}

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
  root_ = Opened(::InternetOpenW(text.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (root_ == nullptr) return Fail();
  SetTimeouts(root_);
  // Handles opened below the root inherit the callback.
  ::InternetSetStatusCallbackW(root_, &StatusCallback);
  return true;
}

bool WinInetTransport::Connect(std::u16string_view host, uint16_t port, uint32_t flags) {
  if (root_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  CloseConnection();
  std::wstring name = Terminated(host);
  connection_ = Opened(
      ::InternetConnectW(root_, name.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, flags, 0));
  if (connection_ == nullptr) return Fail();
  SetTimeouts(connection_);
  return true;
}

bool WinInetTransport::AttemptConnect() {
  DWORD result = ::InternetAttemptConnect(0);
  return result == ERROR_SUCCESS ? true : Fail(result);
}

bool WinInetTransport::OpenRequest(std::u16string_view verb, std::u16string_view path,
                                   const char16_t* const* acceptTypes, uint32_t flags) {
  if (connection_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  CloseRequest();
  std::wstring verbText = Terminated(verb);
  std::wstring pathText = Terminated(path);
  // char16_t and wchar_t are both UTF-16 units here: the list has the
  // layout WinINet expects.
  auto types = const_cast<LPCWSTR*>(reinterpret_cast<const wchar_t* const*>(acceptTypes));
  // The status callback is only called for handles with a context.
  phase_ = std::make_shared<Phase>();
  request_ = Opened(::HttpOpenRequestW(connection_, verbText.c_str(), pathText.c_str(), L"HTTP/1.0", L"",
                                       types, flags, reinterpret_cast<DWORD_PTR>(phase_.get())));
  if (request_ == nullptr) {
    phase_.reset();
    return Fail();
  }
  SetTimeouts(request_);
  return true;
}

bool WinInetTransport::AddHeaders(std::u16string_view lines, uint32_t mode) {
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  std::wstring text = Terminated(lines);
  if (!::HttpAddRequestHeadersW(request_, text.c_str(), static_cast<DWORD>(text.size()), mode)) return Fail();
  return true;
}

bool WinInetTransport::Send(std::u16string_view extraHeaders, const void* body, size_t bodyLength) {
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  auto call = std::make_shared<Call>();
  call->headers = Terminated(extraHeaders);
  call->body.assign(static_cast<const char*>(body), bodyLength);
  call->run = [](HINTERNET request, Call& self) {
    return ::HttpSendRequestW(request, self.headers.empty() ? nullptr : self.headers.c_str(),
                              static_cast<DWORD>(self.headers.size()), self.body.data(),
                              static_cast<DWORD>(self.body.size()));
  };
  return RunBounded(std::move(call));
}

bool WinInetTransport::BeginSend() {
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  auto call = std::make_shared<Call>();
  call->run = [](HINTERNET request, Call&) {
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    return ::HttpSendRequestExW(request, &buffers, nullptr, HSR_INITIATE, 0);
  };
  return RunBounded(std::move(call));
}

bool WinInetTransport::Write(const void* data, size_t length, size_t* written) {
  *written = 0;
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  DWORD done = 0;
  if (!::InternetWriteFile(request_, data, static_cast<DWORD>(length), &done)) return Fail();
  *written = done;
  return true;
}

bool WinInetTransport::EndSend() {
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!::HttpEndRequestW(request_, nullptr, HSR_INITIATE, 0)) return Fail();
  return true;
}

bool WinInetTransport::Read(void* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (request_ == nullptr) return Fail(ERROR_INVALID_HANDLE);
  // A blocking read waits to fill the whole chunk, and when the server
  // falls silent first it fails and the bytes it had taken are lost. So
  // wait for data first (bounded by the receive timeout) and read only what
  // is there; 0 available means the server has closed.
  DWORD available = 0;
  if (!::InternetQueryDataAvailable(request_, &available, 0, 0)) return Fail();
  if (available == 0) return true;
  DWORD read = 0;
  DWORD want = static_cast<DWORD>(std::min<size_t>(available, capacity));
  if (!::InternetReadFile(request_, buffer, want, &read)) return Fail();
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
    if (::HttpQueryInfoW(request_, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr)) {
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
  Close(&request_);
  // After the close: closing still reports to the callback with the context.
  phase_.reset();
}

void WinInetTransport::CloseConnection() {
  CloseRequest();
  Close(&connection_);
}

void WinInetTransport::CloseRoot() {
  CloseConnection();
  Close(&root_);
}

}  // namespace win32
}  // namespace parlex
