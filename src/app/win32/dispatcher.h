// The page's external object: a hand-written IDispatchEx with the fixed
// table of five names. The main window derives from it and supplies the four
// operations behind the names and the address of the page it shows.
//
// The script engine calls through IDispatchEx::InvokeEx and names the
// calling frame there: only that frame's own address can tell a frame of
// another site, embedded in the chat page, from the chat page itself.
#pragma once

#include <windows.h>
#include <dispex.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <utility>

#include "parlex_config.h"

namespace parlex::app::win32 {

class Dispatcher : public IDispatchEx {
 public:
  Dispatcher() = default;
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // IUnknown: the object answers for IUnknown, IDispatch and IDispatchEx only.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch: no type information; names by the fixed table; every call
  // answers S_OK, whatever it asked for.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  // A call that names no caller: the page shown decides.
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

  // IDispatchEx: the same five names, exact and case-sensitive whatever the
  // flags ask (no name is ever added or deleted). InvokeEx decides by the
  // address of the calling frame's window, which the caller's service
  // provider hands out; a caller without a window is treated as Invoke is.
  // Like Invoke it answers S_OK, whatever the call asked for.
  STDMETHODIMP GetDispID(BSTR name, DWORD flags, DISPID* id) override;
  STDMETHODIMP InvokeEx(DISPID id, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, IServiceProvider* caller) override;
  STDMETHODIMP DeleteMemberByName(BSTR name, DWORD flags) override;
  STDMETHODIMP DeleteMemberByDispID(DISPID id) override;
  STDMETHODIMP GetMemberProperties(DISPID id, DWORD fetch, DWORD* properties) override;
  STDMETHODIMP GetMemberName(DISPID id, BSTR* name) override;
  STDMETHODIMP GetNextDispID(DWORD flags, DISPID id, DISPID* next) override;
  STDMETHODIMP GetNameSpaceParent(IUnknown** parent) override;

  // The chat service whose pages may use the object (the built-in one
  // unless set); set before the main window shows a page.
  void SetChatBaseUrl(std::u16string url) { chatBaseUrl_ = std::move(url); }
  const std::u16string& ChatBaseUrl() const { return chatBaseUrl_; }

  // The operations behind the names.
  virtual void maximize() = 0;
  virtual void notify(const std::u16string& title, const std::u16string& text) = 0;
  virtual void quit() = 0;
  virtual void capture(int32_t companyId, int32_t visitorId) = 0;

 protected:
  // The first hold is the owner's and is never given back: the object ends
  // with its owner, not through Release.
  virtual ~Dispatcher() = default;

  // The address of the page shown, for calls that do not name their frame.
  // Only the chat service's own pages may use the object; for any other
  // page every call does nothing and "embeded" answers false.
  virtual std::u16string CurrentPageAddress() = 0;

 private:
  // One call, decided for a page at callerAddress.
  HRESULT Call(DISPID id, DISPPARAMS* params, VARIANT* result, const std::u16string& callerAddress);

  LONG refs_ = 1;
  std::u16string chatBaseUrl_ = PARLEX_CHAT_URL;
};

}  // namespace parlex::app::win32
