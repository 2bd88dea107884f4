// The page's external object: a hand-written IDispatch with the fixed table
// of five names. The main window derives from it and supplies the four
// operations behind the names and the address of the page it shows.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>

namespace parlex::app::win32 {

class Dispatcher : public IDispatch {
 public:
  Dispatcher() = default;
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // IUnknown: the object answers for IUnknown and IDispatch only.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch: no type information; names by the fixed table; every call
  // answers S_OK, whatever it asked for.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

  // The operations behind the names.
  virtual void maximize() = 0;
  virtual void notify(const std::u16string& title, const std::u16string& text) = 0;
  virtual void quit() = 0;
  virtual void capture(int32_t companyId, int32_t visitorId) = 0;

 protected:
  // The first hold is the owner's and is never given back: the object ends
  // with its owner, not through Release.
  virtual ~Dispatcher() = default;

  // The address of the page the calls come from. Only the chat service's
  // own pages may use the object; for any other page every call does
  // nothing and "embeded" answers false.
  virtual std::u16string CurrentPageAddress() = 0;

 private:
  LONG refs_ = 1;
};

}  // namespace parlex::app::win32
