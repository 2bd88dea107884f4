// The ActiveX control host: a child window class whose window text is a
// control's class id. Creating such a window creates the control, activates
// it in place over the whole window and keeps it sized with the window; when
// the control cannot be created, the window is not created either (and so a
// dialog that names it in its template fails to be created).
//
// The host is the control's OLE container. As the browser's document host it
// hands the page the external dispatch object set on it.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <mshtmhst.h>

#include "platform/win32/com_ptr.h"
#include "resource.h"

namespace parlex::win32 {

// The host window's class, as dialog templates name it.
inline constexpr wchar_t kAxHostClass[] = L"" PARLEX_AXHOST_CLASS;

// Sent by a window's message filter to the child that holds the focus:
// lParam is the MSG*; the host answers 1 when the control translated it
// (its keyboard shortcuts, its tab order). Other windows answer 0.
inline constexpr UINT WM_FORWARDMSG = 0x037F;

// Registers the host window class for the module; false when that fails.
bool RegisterAxHostClass(HINSTANCE instance);

class CAxHost final : public IOleClientSite,
                      public IOleInPlaceSite,
                      public IOleInPlaceFrame,
                      public IDocHostUIHandler {
 public:
  // The host of a host window, or null for any other window. The window keeps
  // the host alive; no reference is added.
  static CAxHost* FromWindow(HWND hwnd);

  // The object the page reaches as its external object; null clears it.
  void SetExternalDispatch(IDispatch* external);

  // QueryInterface on the hosted control.
  HRESULT QueryControl(REFIID iid, void** out);
  template <class T>
  HRESULT QueryControl(ComPtr<T>& out) {
    return QueryControl(__uuidof(T), out.PutVoid());
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IOleClientSite
  STDMETHODIMP SaveObject() override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  STDMETHODIMP GetContainer(IOleContainer** container) override;
  STDMETHODIMP ShowObject() override;
  STDMETHODIMP OnShowWindow(BOOL show) override;
  STDMETHODIMP RequestNewObjectLayout() override;

  // IOleWindow (of both the site and the frame)
  STDMETHODIMP GetWindow(HWND* hwnd) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override;
  STDMETHODIMP OnInPlaceActivate() override;
  STDMETHODIMP OnUIActivate() override;
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT posRect,
                                LPRECT clipRect, LPOLEINPLACEFRAMEINFO frameInfo) override;
  STDMETHODIMP Scroll(SIZE extent) override;
  STDMETHODIMP OnUIDeactivate(BOOL undoable) override;
  STDMETHODIMP OnInPlaceDeactivate() override;
  STDMETHODIMP DiscardUndoState() override;
  STDMETHODIMP DeactivateAndUndo() override;
  STDMETHODIMP OnPosRectChange(LPCRECT posRect) override;

  // IOleInPlaceUIWindow
  STDMETHODIMP GetBorder(LPRECT border) override;
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS widths) override;
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override;
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR name) override;

  // IOleInPlaceFrame
  STDMETHODIMP InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) override;
  STDMETHODIMP SetMenu(HMENU shared, HOLEMENU olemenu, HWND activeObject) override;
  STDMETHODIMP RemoveMenus(HMENU shared) override;
  STDMETHODIMP SetStatusText(LPCOLESTR text) override;
  STDMETHODIMP EnableModeless(BOOL enable) override;
  STDMETHODIMP TranslateAccelerator(LPMSG msg, WORD id) override;

  // IDocHostUIHandler
  STDMETHODIMP ShowContextMenu(DWORD id, POINT* point, IUnknown* target, IDispatch* object) override;
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
  STDMETHODIMP ShowUI(DWORD id, IOleInPlaceActiveObject* active, IOleCommandTarget* target,
                      IOleInPlaceFrame* frame, IOleInPlaceUIWindow* doc) override;
  STDMETHODIMP HideUI() override;
  STDMETHODIMP UpdateUI() override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) override;
  STDMETHODIMP TranslateAccelerator(LPMSG msg, const GUID* group, DWORD id) override;
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD reserved) override;
  STDMETHODIMP GetDropTarget(IDropTarget* drop, IDropTarget** target) override;
  STDMETHODIMP GetExternal(IDispatch** external) override;
  STDMETHODIMP TranslateUrl(DWORD translate, LPWSTR url, LPWSTR* translated) override;
  STDMETHODIMP FilterDataObject(IDataObject* object, IDataObject** filtered) override;

 private:
  friend bool RegisterAxHostClass(HINSTANCE instance);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  explicit CAxHost(HWND hwnd) : window_(hwnd) {}
  ~CAxHost() = default;

  // Creates the control named by a class id text and activates it in place.
  HRESULT CreateControl(const wchar_t* classIdText);
  void CloseControl();
  void SizeControl();
  void FocusControl();
  // The window message filter's forward request: true when the control
  // translated the message.
  bool ForwardMessage(MSG* msg);

  LONG refs_ = 1;
  HWND window_;
  ComPtr<IOleObject> control_;
  ComPtr<IOleInPlaceObject> inPlace_;
  ComPtr<IOleInPlaceActiveObject> active_;
  ComPtr<IDispatch> external_;
};

}  // namespace parlex::win32
