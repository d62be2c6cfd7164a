#include "installer/web/wb_customizer.h"

#include <exdispid.h>
#include <ocidl.h>
#include <shellapi.h>

#include <atomic>
#include <mutex>
#include <string>

#include "installer/web/page_address.h"
#include "terminal/win_handles.h"
#include "terminal/win_text.h"

namespace installer {

namespace {

std::atomic<long> g_liveCustomizers{0};
std::function<void()> g_whenNoneLeft;

struct CustomizerTypes {
  ITypeInfo* dispatch = nullptr;  // what GetTypeInfo hands out
  ITypeInfo* vtable = nullptr;    // the dual interface's vtable, for calls
};

// The type information of IWBCustomizer, from the type library that the
// program carries as its first TYPELIB resource. Loaded once, kept. Calls go
// through the vtable half of the dual interface: invoking through its
// dispatch half would come back to Invoke.
const CustomizerTypes& customizerTypes() {
  static CustomizerTypes types;
  static std::once_flag once;
  std::call_once(once, [] {
    static wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    if (length == 0 || length >= 32768) return;
    terminal::ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(path, REGKIND_NONE, library.put()))) return;
    ITypeInfo* dispatch = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(IID_IWBCustomizer, &dispatch)) || !dispatch) return;
    ITypeInfo* vtable = nullptr;
    HREFTYPE reference = 0;
    TYPEATTR* attributes = nullptr;
    TYPEKIND kind = TKIND_DISPATCH;
    if (SUCCEEDED(dispatch->GetTypeAttr(&attributes))) {
      kind = attributes->typekind;
      dispatch->ReleaseTypeAttr(attributes);
    }
    if (kind == TKIND_INTERFACE) {
      vtable = dispatch;
      vtable->AddRef();
    } else if (FAILED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference)) ||
               FAILED(dispatch->GetRefTypeInfo(reference, &vtable))) {
      vtable = nullptr;
    }
    if (!vtable) {
      dispatch->Release();
      return;
    }
    types.dispatch = dispatch;
    types.vtable = vtable;
  });
  return types;
}

std::wstring bstrText(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// The connection point of a browser's DWebBrowserEvents2.
HRESULT browserEvents(IWebBrowser2* browser, IConnectionPoint** point) {
  terminal::ComPtr<IConnectionPointContainer> container;
  const HRESULT hr = browser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.put()));
  if (FAILED(hr)) return hr;
  return container->FindConnectionPoint(DIID_DWebBrowserEvents2, point);
}

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, wcslen(prefix), prefix) == 0;
}

}  // namespace

long liveCustomizers() { return g_liveCustomizers.load(); }
void whenNoCustomizerLeft(std::function<void()> call) { g_whenNoneLeft = std::move(call); }

bool openInDefaultBrowser(const std::wstring& url) {
  if (!isWebAddress(terminal::wideToUtf8(url))) return false;
  ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return true;
}

CWBCustomizer::CWBCustomizer() { ++g_liveCustomizers; }

CWBCustomizer::~CWBCustomizer() {
  detachFromBrowser();
  if (--g_liveCustomizers == 0 && g_whenNoneLeft) g_whenNoneLeft();
}

void CWBCustomizer::detachFromBrowser() {
  if (events_) {
    if (topBrowser_ && eventsCookie_) {
      terminal::ComPtr<IConnectionPoint> point;
      if (SUCCEEDED(browserEvents(topBrowser_, point.put()))) point->Unadvise(eventsCookie_);
    }
    events_->forgetCustomizer();
    events_->Release();
    events_ = nullptr;
    eventsCookie_ = 0;
  }
  if (browser_) browser_->Release();
  browser_ = nullptr;
  if (topBrowser_) topBrowser_->Release();
  topBrowser_ = nullptr;
}

HRESULT CWBCustomizer::attachToBrowser(IUnknown* browser) {
  detachFromBrowser();
  if (!browser) return S_FALSE;
  IWebBrowser2* webBrowser = nullptr;
  if (FAILED(browser->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&webBrowser))) || !webBrowser)
    return S_FALSE;
  browser_ = webBrowser;
  topBrowser_ = webBrowser;
  topBrowser_->AddRef();
  terminal::ComPtr<IConnectionPoint> point;
  HRESULT hr = browserEvents(topBrowser_, point.put());
  if (FAILED(hr)) return hr;
  events_ = new CIE4Events(this);
  hr = point->Advise(events_, &eventsCookie_);
  if (FAILED(hr)) {
    events_->forgetCustomizer();
    events_->Release();
    events_ = nullptr;
    eventsCookie_ = 0;
  }
  return hr;
}

void CWBCustomizer::attachToDocument(IDispatch* frame) {
  IWebBrowser2* frameBrowser = nullptr;
  if (!frame || FAILED(frame->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&frameBrowser))) ||
      !frameBrowser)
    return;
  // window.external, which chooses what the elevated installer downloads and
  // runs, goes to the page the installer opened and to frames of its origin
  // only, never to a frame another site put into the page.
  if (!mayServeDocumentOf(frameBrowser)) {
    frameBrowser->Release();
    return;
  }
  // The frame's browser replaces the one kept for reading documents; the
  // top browser's events stay connected.
  if (browser_) browser_->Release();
  browser_ = frameBrowser;
  terminal::ComPtr<IDispatch> document;
  if (FAILED(browser_->get_Document(document.put())) || !document) return;
  terminal::ComPtr<ICustomDoc> custom;
  if (FAILED(document->QueryInterface(__uuidof(ICustomDoc), reinterpret_cast<void**>(custom.put()))) || !custom) return;
  custom->SetUIHandler(this);
}

bool CWBCustomizer::mayServeDocumentOf(IWebBrowser2* frame) const {
  if (!topBrowser_) return false;
  terminal::ComPtr<IUnknown> frameIdentity, topIdentity;
  if (SUCCEEDED(frame->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(frameIdentity.put()))) &&
      SUCCEEDED(topBrowser_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(topIdentity.put()))) &&
      frameIdentity.get() == topIdentity.get())
    return true;
  BSTR frameUrl = nullptr, topUrl = nullptr;
  const bool read = SUCCEEDED(frame->get_LocationURL(&frameUrl)) && SUCCEEDED(topBrowser_->get_LocationURL(&topUrl));
  const bool same =
      read && sameOrigin(terminal::wideToUtf8(bstrText(topUrl)), terminal::wideToUtf8(bstrText(frameUrl)));
  SysFreeString(frameUrl);
  SysFreeString(topUrl);
  return same;
}

STDMETHODIMP CWBCustomizer::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IWBCustomizer)
    *object = static_cast<IWBCustomizer*>(this);
  else if (riid == IID_IDocHostUIHandler)
    *object = static_cast<IDocHostUIHandler*>(this);
  else if (riid == IID_IObjectSafety)
    *object = static_cast<IObjectSafety*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CWBCustomizer::AddRef() { return InterlockedIncrement(&references_); }

STDMETHODIMP_(ULONG) CWBCustomizer::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP CWBCustomizer::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP CWBCustomizer::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  ITypeInfo* type = customizerTypes().dispatch;
  if (!type) return TYPE_E_CANTLOADLIBRARY;
  type->AddRef();
  *info = type;
  return S_OK;
}

STDMETHODIMP CWBCustomizer::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* type = customizerTypes().dispatch;
  if (!type) return TYPE_E_CANTLOADLIBRARY;
  return DispGetIDsOfNames(type, names, count, ids);
}

STDMETHODIMP CWBCustomizer::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* type = customizerTypes().vtable;
  if (!type) return TYPE_E_CANTLOADLIBRARY;
  return DispInvoke(static_cast<IWBCustomizer*>(this), type, id, flags, params, result, exception, argumentError);
}

STDMETHODIMP CWBCustomizer::Test() {
  MessageBoxA(nullptr, "Test", "Test", MB_OK | MB_ICONINFORMATION);
  return S_OK;
}

STDMETHODIMP CWBCustomizer::SelectDownloadSource(BSTR SourceKey) {
  const std::string key = terminal::wideToUtf8(bstrText(SourceKey));
  if (ownerDialog) SendMessageA(ownerDialog, kPageAnswerMessage, kPageAnswerTag, reinterpret_cast<LPARAM>(key.c_str()));
  return S_OK;
}

STDMETHODIMP CWBCustomizer::CancelSelection() {
  if (ownerDialog) EndDialog(ownerDialog, 0);
  return S_OK;
}

STDMETHODIMP CWBCustomizer::OpenURL(BSTR Url, LONG* Result) {
  // Whatever else a page gives would be started with administrator rights.
  const bool opened = openInDefaultBrowser(bstrText(Url));
  if (Result) *Result = opened ? 1 : 0;
  return opened ? S_OK : E_INVALIDARG;
}

// The browser's own behaviour everywhere but for window.external.
STDMETHODIMP CWBCustomizer::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) { return S_FALSE; }
STDMETHODIMP CWBCustomizer::GetHostInfo(DOCHOSTUIINFO*) { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                   IOleInPlaceUIWindow*) {
  return E_NOTIMPL;
}
STDMETHODIMP CWBCustomizer::HideUI() { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::UpdateUI() { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::EnableModeless(BOOL) { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::OnDocWindowActivate(BOOL) { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::OnFrameWindowActivate(BOOL) { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return S_FALSE; }
STDMETHODIMP CWBCustomizer::GetOptionKeyPath(LPOLESTR*, DWORD) { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::GetDropTarget(IDropTarget*, IDropTarget**) { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::TranslateUrl(DWORD, LPWSTR, LPWSTR*) { return E_NOTIMPL; }
STDMETHODIMP CWBCustomizer::FilterDataObject(IDataObject*, IDataObject**) { return E_NOTIMPL; }

STDMETHODIMP CWBCustomizer::GetExternal(IDispatch** external) {
  if (!external) return E_POINTER;
  *external = static_cast<IWBCustomizer*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP CWBCustomizer::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
  if (!supported || !enabled) return E_POINTER;
  terminal::ComPtr<IUnknown> probe;
  if (FAILED(QueryInterface(riid, reinterpret_cast<void**>(probe.put())))) {
    *supported = *enabled = 0;
    return E_NOINTERFACE;
  }
  *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
  *enabled = safety_;
  return S_OK;
}

STDMETHODIMP CWBCustomizer::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
  terminal::ComPtr<IUnknown> probe;
  if (FAILED(QueryInterface(riid, reinterpret_cast<void**>(probe.put())))) return E_NOINTERFACE;
  if (mask & ~DWORD{INTERFACESAFE_FOR_UNTRUSTED_CALLER}) return E_FAIL;
  safety_ = (safety_ & ~mask) | (enabled & mask);
  return S_OK;
}

CIE4Events::CIE4Events(CWBCustomizer* customizer) : customizer_(customizer) {}

STDMETHODIMP CIE4Events::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID_DWebBrowserEvents2) return E_NOINTERFACE;
  *object = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CIE4Events::AddRef() { return InterlockedIncrement(&references_); }

STDMETHODIMP_(ULONG) CIE4Events::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP CIE4Events::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP CIE4Events::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP CIE4Events::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

// Arguments arrive last first: rgvarg[0] is the event's last parameter.
STDMETHODIMP CIE4Events::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
  if (!params) return E_INVALIDARG;
  switch (id) {
    case DISPID_NAVIGATECOMPLETE2: {  // (pDisp, URL)
      if (params->cArgs < 2 || !params->rgvarg) return E_INVALIDARG;
      const VARIANT& frame = params->rgvarg[1];
      if (frame.vt != VT_DISPATCH) return E_INVALIDARG;
      if (customizer_) customizer_->attachToDocument(frame.pdispVal);
      return S_OK;
    }
    case DISPID_NEWWINDOW3: {  // (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
      if (params->cArgs < 5 || !params->rgvarg) return S_OK;
      const VARIANT& url = params->rgvarg[0];
      VARIANT& cancel = params->rgvarg[3];
      if (url.vt != VT_BSTR || cancel.vt != (VT_BYREF | VT_BOOL) || !cancel.pboolVal) return S_OK;
      const std::wstring address = bstrText(url.bstrVal);
      if (!startsWith(address, L"http://") && !startsWith(address, L"https://")) return S_OK;
      *cancel.pboolVal = VARIANT_TRUE;
      openInDefaultBrowser(address);
      return S_OK;
    }
    default: return S_OK;
  }
}

}  // namespace installer
