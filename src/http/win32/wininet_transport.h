// The client's transport on Windows: each step is one WinINet call.
//
// Every handle this transport opens is closed by the matching Close call,
// and by the destructor for whatever is still open, unless a call that was
// given up on still uses it: that call then closes it when it ends.
//
// WinINet connects inside HttpSendRequestW and HttpSendRequestExW, and its
// connect timeout is not honoured everywhere. Those two calls therefore run
// bounded: the connect bound until WinINet reports (through its status
// callback) that the request is past its connect, then twice the silence
// bound for the request and the reply's head. The send and receive
// timeouts, which WinINet does honour once set on the connection and
// request handles, bound the rest.
//
// The caller's messages are not served while it waits: the client runs
// inside a window's command (the capture's send), and serving that window
// during the send would let a second command, or its close, run inside the
// first.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/transport.h"
#include "net/win32/bounded_call.h"
#include "net/win32/internet_handle.h"

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
  // WinINet does not interrupt a blocked call for another thread: the call
  // in progress ends within its own bound, and every later step fails at
  // once.
  void Abort() override { aborted_ = true; }

 private:
  bool Fail();
  bool Fail(DWORD error) {
    error_ = error;
    return false;
  }
  void SetTimeouts(HINTERNET handle);
  // Runs send(request) on the open request with the send's bounds. Given
  // up on, it keeps the request (and so the connection and root above it),
  // which this transport then lets go of.
  bool SendBounded(std::function<BOOL(HINTERNET request)> send);
  static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                      DWORD infoLength);

  std::shared_ptr<net::win32::InternetHandle> root_;
  std::shared_ptr<net::win32::InternetHandle> connection_;
  std::shared_ptr<net::win32::InternetHandle> request_;
  // The open request's progress, reported by the status callback; its
  // address is the request's context.
  std::shared_ptr<net::win32::CallProgress> progress_;
  TransportTimeouts timeouts_;
  uint32_t error_ = 0;
  std::atomic<bool> aborted_{false};
};

// The "Content Type" the registry gives a key such as u".jpg" under
// HKEY_CLASSES_ROOT; empty when it has none that fits.
std::u16string LookupRegistryMimeType(std::u16string_view key);

}  // namespace parlex::win32
