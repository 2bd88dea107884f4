#include "app/win32/dispatcher.h"

#include <mshtml.h>
#include <servprov.h>

#include <cmath>
#include <optional>

#include "app/bridge.h"
#include "app/support_events.h"
#include "parlex_config.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/wide_text.h"

namespace parlex::app::win32 {

using parlex::win32::AsU16;
using parlex::win32::AsWide;
using parlex::win32::ComPtr;

namespace {

// The call's arguments as the bridge's rules read them, in the platform's
// reversed order. Each conversion coerces a copy (by-reference values are
// dereferenced); the caller's variants are never changed.
class VariantArgs final : public IBridgeArgs {
 public:
  explicit VariantArgs(const DISPPARAMS* params) : params_(params) {}

  size_t Count() const override { return params_ && params_->rgvarg ? params_->cArgs : 0; }

  std::optional<std::u16string> Text(size_t index) const override {
    VARIANT value;
    if (!Convert(index, VT_BSTR, value)) return std::nullopt;
    // A null string is the empty text.
    std::u16string text = value.bstrVal ? std::u16string(AsU16(value.bstrVal), ::SysStringLen(value.bstrVal))
                                        : std::u16string();
    ::VariantClear(&value);
    return text;
  }

  std::optional<int32_t> Int32(size_t index) const override {
    if (IsNotANumber(index)) return std::nullopt;
    VARIANT value;
    if (!Convert(index, VT_I4, value)) return std::nullopt;
    int32_t number = value.lVal;
    ::VariantClear(&value);
    return number;
  }

 private:
  // Not every coercion refuses a NaN (Wine's makes it the largest number);
  // it is no whole number.
  bool IsNotANumber(size_t index) const {
    if (index >= Count()) return false;
    VARTYPE type = params_->rgvarg[index].vt & VT_TYPEMASK;
    if (type != VT_R8 && type != VT_R4) return false;
    VARIANT value;
    if (!Convert(index, VT_R8, value)) return false;
    return std::isnan(value.dblVal);
  }

  bool Convert(size_t index, VARTYPE type, VARIANT& value) const {
    ::VariantInit(&value);
    if (index >= Count()) return false;
    if (SUCCEEDED(::VariantChangeType(&value, &params_->rgvarg[index], 0, type)) && value.vt == type) {
      return true;
    }
    ::VariantClear(&value);
    return false;
  }

  const DISPPARAMS* params_;
};

// The address of the window whose script makes the call, as the caller's
// service provider hands that window out (the service SID_SHTMLWindow is
// IHTMLWindow2's own id); none when it hands out no window. A window whose
// address cannot be read answers the empty text, which no rule lets in.
std::optional<std::u16string> CallerAddress(IServiceProvider* caller) {
  if (caller == nullptr) return std::nullopt;
  ComPtr<IHTMLWindow2> window;
  if (FAILED(caller->QueryService(__uuidof(IHTMLWindow2), __uuidof(IHTMLWindow2), window.PutVoid())) ||
      !window) {
    return std::nullopt;
  }
  ComPtr<IHTMLLocation> location;
  BSTR href = nullptr;
  if (FAILED(window->get_location(location.Put())) || !location || FAILED(location->get_href(&href))) {
    href = nullptr;
  }
  std::u16string address = href ? std::u16string(AsU16(href), ::SysStringLen(href)) : std::u16string();
  ::SysFreeString(href);
  return address;
}

}  // namespace

STDMETHODIMP Dispatcher::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IDispatch && iid != __uuidof(IDispatchEx)) return E_NOINTERFACE;
  *out = static_cast<IDispatchEx*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) Dispatcher::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) Dispatcher::Release() { return static_cast<ULONG>(::InterlockedDecrement(&refs_)); }

STDMETHODIMP Dispatcher::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

STDMETHODIMP Dispatcher::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

STDMETHODIMP Dispatcher::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  // Only the first name counts; a misspelt name is an error the script sees.
  std::optional<int32_t> dispid = names[0] ? BridgeDispIdOf(AsU16(names[0])) : std::nullopt;
  if (!dispid) {
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  ids[0] = *dispid;
  return S_OK;
}

STDMETHODIMP Dispatcher::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO*, UINT*) {
  return Call(id, params, result, CurrentPageAddress());
}

STDMETHODIMP Dispatcher::GetDispID(BSTR name, DWORD, DISPID* id) {
  if (!id) return E_INVALIDARG;
  std::optional<int32_t> dispid = name ? BridgeDispIdOf(AsU16(name)) : std::nullopt;
  *id = dispid ? *dispid : DISPID_UNKNOWN;
  return dispid ? S_OK : DISP_E_UNKNOWNNAME;
}

STDMETHODIMP Dispatcher::InvokeEx(DISPID id, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                  IServiceProvider* caller) {
  // A frame of the chat page may come from anywhere: its own address
  // decides, not the page's around it.
  std::optional<std::u16string> frame = CallerAddress(caller);
  return Call(id, params, result, frame ? *frame : CurrentPageAddress());
}

STDMETHODIMP Dispatcher::DeleteMemberByName(BSTR, DWORD) { return S_FALSE; }

STDMETHODIMP Dispatcher::DeleteMemberByDispID(DISPID) { return S_FALSE; }

STDMETHODIMP Dispatcher::GetMemberProperties(DISPID, DWORD, DWORD*) { return E_NOTIMPL; }

STDMETHODIMP Dispatcher::GetMemberName(DISPID id, BSTR* name) {
  if (!name) return E_INVALIDARG;
  *name = nullptr;
  for (const BridgeName& entry : kBridgeNames) {
    if (entry.dispid != id) continue;
    *name = ::SysAllocStringLen(AsWide(entry.name.data()), static_cast<UINT>(entry.name.size()));
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP Dispatcher::GetNextDispID(DWORD, DISPID id, DISPID* next) {
  if (!next) return E_INVALIDARG;
  *next = DISPID_UNKNOWN;
  // In table order, from DISPID_STARTENUM.
  bool found = id == DISPID_STARTENUM;
  for (const BridgeName& entry : kBridgeNames) {
    if (found) {
      *next = entry.dispid;
      return S_OK;
    }
    found = entry.dispid == id;
  }
  return S_FALSE;
}

STDMETHODIMP Dispatcher::GetNameSpaceParent(IUnknown** parent) {
  if (parent) *parent = nullptr;
  return E_NOTIMPL;
}

HRESULT Dispatcher::Call(DISPID id, DISPPARAMS* params, VARIANT* result,
                         const std::u16string& callerAddress) {
  VariantArgs args(params);
  BridgeCall call = DecideBridgeCall(id, args);
  if (call.op == BridgeOp::kNone) return S_OK;
  // Checked at every call: the page may have left the chat service since
  // the last one.
  const bool allowed = IsChatOrigin(callerAddress, chatBaseUrl_);
  if (!allowed) {
    const std::u16string_view name = call.op == BridgeOp::kEmbeded    ? u"embeded"
                                     : call.op == BridgeOp::kMaximize ? u"maxmize"
                                     : call.op == BridgeOp::kNotify   ? u"notify"
                                     : call.op == BridgeOp::kQuit     ? u"quit"
                                                                      : u"capture";
    LogRefusedBridgeCall(name, callerAddress);
  }
  if (call.op == BridgeOp::kEmbeded) {
    if (result) {
      ::VariantInit(result);
      result->vt = VT_BOOL;
      result->boolVal = allowed ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return S_OK;
  }
  if (!allowed) return S_OK;
  switch (call.op) {
    case BridgeOp::kMaximize:
      maximize();
      break;
    case BridgeOp::kNotify:
      notify(call.title, call.text);
      break;
    case BridgeOp::kQuit:
      quit();
      break;
    case BridgeOp::kCapture:
      capture(call.companyId, call.visitorId);
      break;
    default:
      break;
  }
  return S_OK;
}

}  // namespace parlex::app::win32
