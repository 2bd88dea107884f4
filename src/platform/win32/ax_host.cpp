#include "platform/win32/ax_host.h"

namespace parlex::win32 {

bool RegisterAxHostClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = CAxHost::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kAxHostClass;
  return ::RegisterClassExW(&wc) != 0;
}

CAxHost* CAxHost::FromWindow(HWND hwnd) {
  wchar_t className[64];
  if (!hwnd || !::GetClassNameW(hwnd, className, 64) || ::lstrcmpiW(className, kAxHostClass) != 0)
    return nullptr;
  // Only windows of this process carry a host pointer we can use.
  DWORD process = 0;
  ::GetWindowThreadProcessId(hwnd, &process);
  if (process != ::GetCurrentProcessId()) return nullptr;
  return reinterpret_cast<CAxHost*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK CAxHost::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CAxHost* host = reinterpret_cast<CAxHost*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      host = new CAxHost(hwnd);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
      if (FAILED(host->CreateControl(create->lpszName ? create->lpszName : L""))) {
        // The window's creation fails with the control's; WM_NCDESTROY still
        // comes and frees the host.
        return -1;
      }
      return 0;
    }
    case WM_SIZE:
      if (host) host->SizeControl();
      return 0;
    case WM_SETFOCUS:
      if (host) host->FocusControl();
      return 0;
    case WM_ERASEBKGND:
      // The active control paints the whole window.
      if (host && host->inPlace_) return 1;
      break;
    case WM_FORWARDMSG:
      return host && host->ForwardMessage(reinterpret_cast<MSG*>(lParam)) ? 1 : 0;
    case WM_DESTROY:
      if (host) host->CloseControl();
      break;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      if (host) {
        host->CloseControl();
        host->window_ = nullptr;
        host->Release();
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

HRESULT CAxHost::CreateControl(const wchar_t* classIdText) {
  CLSID classId;
  HRESULT hr = ::CLSIDFromString(classIdText, &classId);
  if (FAILED(hr)) return hr;
  hr = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, control_.PutVoid());
  if (FAILED(hr)) return hr;

  // The site first: controls such as the browser want it before their state.
  hr = control_->SetClientSite(this);
  if (FAILED(hr)) return hr;
  // A fresh control with its default state (nothing stored to load).
  ComPtr<IPersistStreamInit> persist;
  if (SUCCEEDED(control_.As(persist))) persist->InitNew();

  RECT rect;
  ::GetClientRect(window_, &rect);
  hr = control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, window_, &rect);
  if (FAILED(hr)) return hr;
  control_.As(inPlace_);
  SizeControl();
  return S_OK;
}

void CAxHost::CloseControl() {
  // Releases everything the control may hold of ours, the external object too.
  if (inPlace_) inPlace_->InPlaceDeactivate();
  inPlace_.Reset();
  active_.Reset();
  if (control_) {
    ComPtr<IOleObject> control = std::move(control_);
    control->Close(OLECLOSE_NOSAVE);
    control->SetClientSite(nullptr);
  }
  external_.Reset();
}

void CAxHost::SizeControl() {
  if (!inPlace_ || !window_) return;
  RECT rect;
  ::GetClientRect(window_, &rect);
  inPlace_->SetObjectRects(&rect, &rect);
}

void CAxHost::FocusControl() {
  if (!control_ || !window_) return;
  RECT rect;
  ::GetClientRect(window_, &rect);
  control_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, this, 0, window_, &rect);
}

bool CAxHost::ForwardMessage(MSG* msg) {
  if (!msg) return false;
  ComPtr<IOleInPlaceActiveObject> active = active_;
  if (!active && control_) control_.As(active);
  return active && active->TranslateAccelerator(msg) == S_OK;
}

void CAxHost::SetExternalDispatch(IDispatch* external) { external_ = ComPtr<IDispatch>::Share(external); }

HRESULT CAxHost::QueryControl(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!control_) return E_NOINTERFACE;
  return control_->QueryInterface(iid, out);
}

// IUnknown

STDMETHODIMP CAxHost::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
    *out = static_cast<IOleClientSite*>(this);
  } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
    *out = static_cast<IOleInPlaceSite*>(this);
  } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
    *out = static_cast<IOleInPlaceFrame*>(this);
  } else if (iid == IID_IDocHostUIHandler) {
    *out = static_cast<IDocHostUIHandler*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CAxHost::AddRef() { return ::InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) CAxHost::Release() {
  LONG refs = ::InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

// IOleClientSite

STDMETHODIMP CAxHost::SaveObject() { return E_NOTIMPL; }
STDMETHODIMP CAxHost::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CAxHost::GetContainer(IOleContainer** container) {
  if (container) *container = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP CAxHost::ShowObject() { return S_OK; }
STDMETHODIMP CAxHost::OnShowWindow(BOOL) { return S_OK; }
STDMETHODIMP CAxHost::RequestNewObjectLayout() { return E_NOTIMPL; }

// IOleWindow

STDMETHODIMP CAxHost::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = window_;
  return window_ ? S_OK : E_FAIL;
}
STDMETHODIMP CAxHost::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

// IOleInPlaceSite

STDMETHODIMP CAxHost::CanInPlaceActivate() { return S_OK; }
STDMETHODIMP CAxHost::OnInPlaceActivate() { return S_OK; }
STDMETHODIMP CAxHost::OnUIActivate() { return S_OK; }

STDMETHODIMP CAxHost::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT posRect,
                                       LPRECT clipRect, LPOLEINPLACEFRAMEINFO frameInfo) {
  if (!frame || !doc || !posRect || !clipRect || !frameInfo) return E_POINTER;
  *frame = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  *doc = nullptr;
  ::GetClientRect(window_, posRect);
  ::GetClientRect(window_, clipRect);
  frameInfo->fMDIApp = FALSE;
  frameInfo->hwndFrame = ::GetAncestor(window_, GA_ROOT);
  frameInfo->haccel = nullptr;
  frameInfo->cAccelEntries = 0;
  return S_OK;
}

STDMETHODIMP CAxHost::Scroll(SIZE) { return E_NOTIMPL; }
STDMETHODIMP CAxHost::OnUIDeactivate(BOOL) { return S_OK; }
STDMETHODIMP CAxHost::OnInPlaceDeactivate() { return S_OK; }
STDMETHODIMP CAxHost::DiscardUndoState() { return E_NOTIMPL; }
STDMETHODIMP CAxHost::DeactivateAndUndo() { return E_NOTIMPL; }

STDMETHODIMP CAxHost::OnPosRectChange(LPCRECT posRect) {
  if (!inPlace_ || !posRect) return S_OK;
  return inPlace_->SetObjectRects(posRect, posRect);
}

// IOleInPlaceUIWindow

STDMETHODIMP CAxHost::GetBorder(LPRECT) { return INPLACE_E_NOTOOLSPACE; }
STDMETHODIMP CAxHost::RequestBorderSpace(LPCBORDERWIDTHS) { return INPLACE_E_NOTOOLSPACE; }
STDMETHODIMP CAxHost::SetBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }

STDMETHODIMP CAxHost::SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) {
  active_ = ComPtr<IOleInPlaceActiveObject>::Share(active);
  return S_OK;
}

// IOleInPlaceFrame

STDMETHODIMP CAxHost::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return S_OK; }
STDMETHODIMP CAxHost::SetMenu(HMENU, HOLEMENU, HWND) { return S_OK; }
STDMETHODIMP CAxHost::RemoveMenus(HMENU) { return S_OK; }
STDMETHODIMP CAxHost::SetStatusText(LPCOLESTR) { return S_OK; }
STDMETHODIMP CAxHost::EnableModeless(BOOL) { return S_OK; }
STDMETHODIMP CAxHost::TranslateAccelerator(LPMSG, WORD) { return S_FALSE; }

// IDocHostUIHandler: the browser's own behaviour everywhere, except that the
// page gets our external object.

STDMETHODIMP CAxHost::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) { return S_FALSE; }

STDMETHODIMP CAxHost::GetHostInfo(DOCHOSTUIINFO* info) {
  if (!info) return E_POINTER;
  // The page fills the window edge to edge.
  info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  return S_OK;
}

STDMETHODIMP CAxHost::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                             IOleInPlaceUIWindow*) {
  return S_OK;
}
STDMETHODIMP CAxHost::HideUI() { return S_OK; }
STDMETHODIMP CAxHost::UpdateUI() { return S_OK; }
STDMETHODIMP CAxHost::OnDocWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP CAxHost::OnFrameWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP CAxHost::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
STDMETHODIMP CAxHost::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return S_FALSE; }

STDMETHODIMP CAxHost::GetOptionKeyPath(LPOLESTR* key, DWORD) {
  if (key) *key = nullptr;
  return S_FALSE;
}

STDMETHODIMP CAxHost::GetDropTarget(IDropTarget*, IDropTarget** target) {
  if (target) *target = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CAxHost::GetExternal(IDispatch** external) {
  if (!external) return E_POINTER;
  *external = external_.Get();
  if (!*external) return S_FALSE;
  (*external)->AddRef();
  return S_OK;
}

STDMETHODIMP CAxHost::TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) {
  if (translated) *translated = nullptr;
  return S_FALSE;
}

STDMETHODIMP CAxHost::FilterDataObject(IDataObject*, IDataObject** filtered) {
  if (filtered) *filtered = nullptr;
  return S_FALSE;
}

}  // namespace parlex::win32
