#define CINTERFACE
#include "fake_caller.h"

#include <mshtml.h>
#include <stdlib.h>

// Only the members a caller's window is asked for are filled in; the rest
// stay null, and a call to one of them would be a fault of the object under
// test.

typedef struct {
  IHTMLLocation iface;
  LONG refs;
  BSTR href;
  int readable;
} Location;

typedef struct {
  IHTMLWindow2 iface;
  LONG refs;
  Location* location;
} Window;

typedef struct {
  IServiceProvider iface;
  LONG refs;
  Window* window;  // null: none handed out
  long requests;
} Caller;

static HRESULT STDMETHODCALLTYPE LocationQueryInterface(IHTMLLocation* self, REFIID iid, void** out) {
  if (!IsEqualIID(iid, &IID_IUnknown) && !IsEqualIID(iid, &IID_IDispatch) &&
      !IsEqualIID(iid, &IID_IHTMLLocation)) {
    *out = NULL;
    return E_NOINTERFACE;
  }
  *out = self;
  self->lpVtbl->AddRef(self);
  return S_OK;
}
static ULONG STDMETHODCALLTYPE LocationAddRef(IHTMLLocation* self) {
  return (ULONG)InterlockedIncrement(&((Location*)self)->refs);
}
static ULONG STDMETHODCALLTYPE LocationRelease(IHTMLLocation* self) {
  return (ULONG)InterlockedDecrement(&((Location*)self)->refs);
}
static HRESULT STDMETHODCALLTYPE LocationHref(IHTMLLocation* self, BSTR* href) {
  Location* location = (Location*)self;
  *href = NULL;
  if (!location->readable) return E_ACCESSDENIED;
  *href = SysAllocString(location->href);
  return S_OK;
}
static IHTMLLocationVtbl locationVtbl = {
    .QueryInterface = LocationQueryInterface,
    .AddRef = LocationAddRef,
    .Release = LocationRelease,
    .get_href = LocationHref,
};

static HRESULT STDMETHODCALLTYPE WindowQueryInterface(IHTMLWindow2* self, REFIID iid, void** out) {
  if (!IsEqualIID(iid, &IID_IUnknown) && !IsEqualIID(iid, &IID_IDispatch) &&
      !IsEqualIID(iid, &IID_IHTMLWindow2)) {
    *out = NULL;
    return E_NOINTERFACE;
  }
  *out = self;
  self->lpVtbl->AddRef(self);
  return S_OK;
}
static ULONG STDMETHODCALLTYPE WindowAddRef(IHTMLWindow2* self) {
  return (ULONG)InterlockedIncrement(&((Window*)self)->refs);
}
static ULONG STDMETHODCALLTYPE WindowRelease(IHTMLWindow2* self) {
  return (ULONG)InterlockedDecrement(&((Window*)self)->refs);
}
static HRESULT STDMETHODCALLTYPE WindowLocation(IHTMLWindow2* self, IHTMLLocation** location) {
  Location* l = ((Window*)self)->location;
  l->iface.lpVtbl->AddRef(&l->iface);
  *location = &l->iface;
  return S_OK;
}
static IHTMLWindow2Vtbl windowVtbl = {
    .QueryInterface = WindowQueryInterface,
    .AddRef = WindowAddRef,
    .Release = WindowRelease,
    .get_location = WindowLocation,
};

static HRESULT STDMETHODCALLTYPE CallerQueryInterface(IServiceProvider* self, REFIID iid, void** out) {
  if (!IsEqualIID(iid, &IID_IUnknown) && !IsEqualIID(iid, &IID_IServiceProvider)) {
    *out = NULL;
    return E_NOINTERFACE;
  }
  *out = self;
  self->lpVtbl->AddRef(self);
  return S_OK;
}
static ULONG STDMETHODCALLTYPE CallerAddRef(IServiceProvider* self) {
  return (ULONG)InterlockedIncrement(&((Caller*)self)->refs);
}
static ULONG STDMETHODCALLTYPE CallerRelease(IServiceProvider* self) {
  Caller* caller = (Caller*)self;
  LONG left = InterlockedDecrement(&caller->refs);
  if (left == 0) {
    if (caller->window) {
      SysFreeString(caller->window->location->href);
      free(caller->window->location);
      free(caller->window);
    }
    free(caller);
  }
  return (ULONG)left;
}
static HRESULT STDMETHODCALLTYPE CallerQueryService(IServiceProvider* self, REFGUID service, REFIID iid,
                                                    void** out) {
  Caller* caller = (Caller*)self;
  *out = NULL;
  if (!IsEqualGUID(service, &SID_SHTMLWindow)) return E_NOINTERFACE;
  ++caller->requests;
  if (!caller->window) return E_NOINTERFACE;
  return caller->window->iface.lpVtbl->QueryInterface(&caller->window->iface, iid, out);
}
static IServiceProviderVtbl callerVtbl = {
    .QueryInterface = CallerQueryInterface,
    .AddRef = CallerAddRef,
    .Release = CallerRelease,
    .QueryService = CallerQueryService,
};

IServiceProvider* FakeCallerCreate(const wchar_t* href, enum FakeCallerKind kind) {
  Caller* caller = calloc(1, sizeof(Caller));
  caller->iface.lpVtbl = &callerVtbl;
  caller->refs = 1;
  if (kind != kFakeCallerNoWindow) {
    Window* window = calloc(1, sizeof(Window));
    Location* location = calloc(1, sizeof(Location));
    location->iface.lpVtbl = &locationVtbl;
    location->refs = 1;
    location->href = SysAllocString(href);
    location->readable = kind != kFakeCallerUnreadableHref;
    window->iface.lpVtbl = &windowVtbl;
    window->refs = 1;
    window->location = location;
    caller->window = window;
  }
  return &caller->iface;
}

long FakeCallerWindowRequests(IServiceProvider* self) { return ((Caller*)self)->requests; }

long FakeCallerRefsHeldElsewhere(IServiceProvider* self) {
  Caller* caller = (Caller*)self;
  if (!caller->window) return 0;
  return (caller->window->refs - 1) + (caller->window->location->refs - 1);
}
