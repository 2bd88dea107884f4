// Receiving a COM object's events: a dispatch sink for one event interface,
// connected to the source's connection point for that interface.
#pragma once

#include <windows.h>
#include <ole2.h>

namespace parlex::win32 {

// Connects sink to source's connection point for events; the cookie names
// the connection for Unadvise.
HRESULT AdviseConnection(IUnknown* source, REFIID events, IUnknown* sink, DWORD* cookie);
HRESULT UnadviseConnection(IUnknown* source, REFIID events, DWORD cookie);

// An event sink living inside its owner (a window object): it is never freed
// through Release, so its owner must disconnect it before it goes away.
class CDispatchSink : public IDispatch {
 public:
  // The cookie while no connection exists.
  static constexpr DWORD kNoConnection = 0xFEFEFEFE;

  explicit CDispatchSink(const IID& events) : events_(events) {}
  CDispatchSink(const CDispatchSink&) = delete;
  CDispatchSink& operator=(const CDispatchSink&) = delete;

  HRESULT Advise(IUnknown* source);
  // Disconnects with the stored cookie and sets it back to kNoConnection.
  HRESULT Unadvise(IUnknown* source);
  DWORD GetCookie() const { return cookie_; }

  // IUnknown: the sink answers for IUnknown, IDispatch and its event interface.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch: events come by DISPID only.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

 protected:
  ~CDispatchSink() = default;
  // One event, with its arguments in the platform's reversed order.
  virtual void OnEvent(DISPID id, DISPPARAMS* params) = 0;

 private:
  IID events_;
  DWORD cookie_ = kNoConnection;
  LONG refs_ = 1;
};

}  // namespace parlex::win32
