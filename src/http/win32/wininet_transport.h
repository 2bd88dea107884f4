// The client's transport on Windows: each step is one WinINet call.
//
// Every handle this transport opens is closed by the matching Close call,
// and by the destructor for whatever is still open. A process-wide count of
// the handles that are open lets tests prove that no request leaves one
// behind.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>

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
  static HINTERNET Opened(HINTERNET handle);
  static void Close(HINTERNET* handle);

  HINTERNET root_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
  TransportTimeouts timeouts_;
  uint32_t error_ = 0;

  static std::atomic<long> openHandles_;
};

}  // namespace parlex::win32
