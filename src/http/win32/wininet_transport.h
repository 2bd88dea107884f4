// The client's transport on Windows: each step is one WinINet call.
//
// Every handle this transport opens is closed by the matching Close call,
// and by the destructor for whatever is still open. A process-wide count of
// the handles that are open lets tests prove that no request leaves one
// behind.
//
// WinINet connects inside HttpSendRequestW and HttpSendRequestExW, and its
// connect timeout is not honoured everywhere (Wine ignores it, and so do
// some Windows versions): a host that never completes the handshake would
// hold the call for as long as the system's TCP retries last, minutes. Those
// two calls therefore run on a helper thread that the caller waits for with
// a bound; closing the handles does not interrupt a blocked connect, so a
// call given up on keeps the request's handles and closes them itself when
// it finally returns. The wait has two stages: the connect bound until
// WinINet reports (through its status callback) that it is past the
// connect, then the send and receive bounds for the request and the reply's
// head. The send and receive timeouts, which WinINet does honour once set on
// the connection and request handles, bound the rest.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/transport.h"

namespace parlex::win32 {

class WinInetTransport : public Transport {
 public:
  WinInetTransport() = default;
  ~WinInetTransport() override;
  WinInetTransport(const WinInetTransport&) = delete;
  WinInetTransport& operator=(const WinInetTransport&) = delete;

  bool Open(std::u16string_view agent, const TransportTimeouts& timeouts) override;
  bool Connect(std::u16string_view host, uint16_t port, uint32_t flags) override;
  bool AttemptConnect() override;
  bool OpenRequest(std::u16string_view verb, std::u16string_view path, const char16_t* const* acceptTypes,
                   uint32_t flags) override;
  bool AddHeaders(std::u16string_view lines, uint32_t mode) override;
  bool Send(std::u16string_view extraHeaders, const void* body, size_t bodyLength) override;
  bool BeginSend() override;
  bool Write(const void* data, size_t length, size_t* written) override;
  bool EndSend() override;
  bool Read(void* buffer, size_t capacity, size_t* got) override;
  bool QueryRawHeaders(size_t capacityUnits, std::u16string* headers) override;
  void CloseRequest() override;
  void CloseConnection() override;
  void CloseRoot() override;
  uint32_t LastError() const override { return error_; }

  // Internet handles opened by any WinInetTransport and not yet closed.
  static long OpenHandleCount() { return openHandles_.load(); }

 private:
  bool Fail();
  bool Fail(DWORD error) {
    error_ = error;
    return false;
  }
  void SetTimeouts(HINTERNET handle);
  struct Call;
  struct Phase;
  // Runs call(request) on a helper thread and waits for it: at most the
  // connect bound until the request is past its connect, then at most
  // twice the silence bound.
  bool RunBounded(std::shared_ptr<Call> call);
  static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                      DWORD infoLength);
  static HINTERNET Opened(HINTERNET handle);
  static void Close(HINTERNET* handle);

  HINTERNET root_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
  // The open request's progress, reported by the status callback; its
  // address is the request's context.
  std::shared_ptr<Phase> phase_;
  TransportTimeouts timeouts_;
  uint32_t error_ = 0;

  static std::atomic<long> openHandles_;
};

// The "Content Type" the registry gives a key such as u".jpg" under
// HKEY_CLASSES_ROOT; empty when it has none that fits.
std::u16string LookupRegistryMimeType(std::u16string_view key);

}  // namespace parlex::win32
