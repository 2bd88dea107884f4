// A caller as the browser names one to IDispatchEx::InvokeEx: a service
// provider handing out the calling frame's window (SID_SHTMLWindow), whose
// location has the frame's address. Written in C (fake_caller.c), where the
// window's long interface can be given just the members a caller needs.
#pragma once

#include <windows.h>
#include <servprov.h>

#ifdef __cplusplus
extern "C" {
#endif

enum FakeCallerKind {
  kFakeCallerWindow = 0,          // a window at href
  kFakeCallerNoWindow = 1,        // no window is handed out (not a page's script)
  kFakeCallerUnreadableHref = 2,  // a window whose address cannot be read
};

// A new caller, held once by the one who asked for it.
IServiceProvider* FakeCallerCreate(const wchar_t* href, enum FakeCallerKind kind);
// How often its window was asked for.
long FakeCallerWindowRequests(IServiceProvider* caller);
// References to its window and location still held by anyone but the caller.
long FakeCallerRefsHeldElsewhere(IServiceProvider* caller);

#ifdef __cplusplus
}
#endif
