#include "platform/win32/event_sink.h"

#include <ocidl.h>

#include "platform/win32/com_ptr.h"

namespace parlex::win32 {

namespace {

HRESULT FindConnectionPoint(IUnknown* source, REFIID events, ComPtr<IConnectionPoint>& point) {
  if (!source) return E_POINTER;
  ComPtr<IConnectionPointContainer> container;
  HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
  if (FAILED(hr)) return hr;
  return container->FindConnectionPoint(events, point.Put());
}

}  // namespace

HRESULT AdviseConnection(IUnknown* source, REFIID events, IUnknown* sink, DWORD* cookie) {
  ComPtr<IConnectionPoint> point;
  HRESULT hr = FindConnectionPoint(source, events, point);
  if (FAILED(hr)) return hr;
  return point->Advise(sink, cookie);
}

HRESULT UnadviseConnection(IUnknown* source, REFIID events, DWORD cookie) {
  ComPtr<IConnectionPoint> point;
  HRESULT hr = FindConnectionPoint(source, events, point);
  if (FAILED(hr)) return hr;
  return point->Unadvise(cookie);
}

HRESULT CDispatchSink::Advise(IUnknown* source) {
  DWORD cookie = kNoConnection;
  HRESULT hr = AdviseConnection(source, events_, static_cast<IDispatch*>(this), &cookie);
  if (SUCCEEDED(hr)) cookie_ = cookie;
  return hr;
}

HRESULT CDispatchSink::Unadvise(IUnknown* source) {
  if (cookie_ == kNoConnection) return S_FALSE;
  HRESULT hr = UnadviseConnection(source, events_, cookie_);
  cookie_ = kNoConnection;
  return hr;
}

STDMETHODIMP CDispatchSink::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == events_) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CDispatchSink::AddRef() { return ::InterlockedIncrement(&refs_); }
STDMETHODIMP_(ULONG) CDispatchSink::Release() { return ::InterlockedDecrement(&refs_); }

STDMETHODIMP CDispatchSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
STDMETHODIMP CDispatchSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CDispatchSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP CDispatchSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) {
  OnEvent(id, params);
  return S_OK;
}

}  // namespace parlex::win32
