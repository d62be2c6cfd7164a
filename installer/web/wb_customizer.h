#pragma once
// The page-facing object of the broker page: the browser's UI handler, whose
// dispatch interface is the page script's window.external, and the sink of
// the browser's events that sends new windows to the default browser.
#include <windows.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <objsafe.h>

#include <functional>
#include <string>

#include "installer/web/marvolt_lib.h"

namespace installer {

// The private message from the page object to the broker dialog: lParam is
// the chosen key as zero-terminated UTF-8, valid during the (sent) call.
inline constexpr UINT kPageAnswerMessage = WM_USER;
inline constexpr WPARAM kPageAnswerTag = 987123;

class CIE4Events;

class CWBCustomizer final : public IWBCustomizer, public IDocHostUIHandler, public IObjectSafety {
 public:
  // With one reference, for the creator.
  CWBCustomizer();
  CWBCustomizer(const CWBCustomizer&) = delete;
  CWBCustomizer& operator=(const CWBCustomizer&) = delete;

  // The dialog that the page's answers go to.
  HWND ownerDialog = nullptr;

  // Leaves the browser it watched before, then connects an event sink to
  // `browser`'s DWebBrowserEvents2. S_FALSE when `browser` is no web browser.
  HRESULT attachToBrowser(IUnknown* browser);
  // Installs this object as the UI handler of the document that `frame` (a
  // browser or one of its frames) shows, and keeps that frame as its browser.
  void attachToDocument(IDispatch* frame);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch, described by the type library in the program's resources.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;

  // IWBCustomizer: what the page's script calls on window.external.
  STDMETHODIMP Test() override;
  STDMETHODIMP SelectDownloadSource(BSTR SourceKey) override;
  STDMETHODIMP CancelSelection() override;
  STDMETHODIMP OpenURL(BSTR Url, LONG* Result) override;

  // IDocHostUIHandler
  STDMETHODIMP ShowContextMenu(DWORD id, POINT* point, IUnknown* target, IDispatch* object) override;
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
  STDMETHODIMP ShowUI(DWORD id, IOleInPlaceActiveObject* active, IOleCommandTarget* target, IOleInPlaceFrame* frame,
                      IOleInPlaceUIWindow* document) override;
  STDMETHODIMP HideUI() override;
  STDMETHODIMP UpdateUI() override;
  STDMETHODIMP EnableModeless(BOOL enable) override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) override;
  STDMETHODIMP TranslateAccelerator(LPMSG message, const GUID* group, DWORD command) override;
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD reserved) override;
  STDMETHODIMP GetDropTarget(IDropTarget* target, IDropTarget** replacement) override;
  STDMETHODIMP GetExternal(IDispatch** external) override;
  STDMETHODIMP TranslateUrl(DWORD translate, LPWSTR in, LPWSTR* out) override;
  STDMETHODIMP FilterDataObject(IDataObject* object, IDataObject** replacement) override;

  // IObjectSafety: safe for untrusted callers, and nothing else.
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

 private:
  ~CWBCustomizer();
  void detachFromBrowser();

  LONG references_ = 1;
  // Whether a frame's document may get the UI handler, and so window.external.
  bool mayServeDocumentOf(IWebBrowser2* frame) const;

  IWebBrowser2* browser_ = nullptr;     // the browser whose document was last served
  IWebBrowser2* topBrowser_ = nullptr;  // the dialog's own browser, whose events are connected
  CIE4Events* events_ = nullptr;
  DWORD eventsCookie_ = 0;
  DWORD safety_ = 0;
};

// The sink of DWebBrowserEvents2: a plain dispatch object that answers Invoke
// only. It points back to its customiser, which clears that pointer when it
// goes: the browser may hold the sink longer.
class CIE4Events final : public IDispatch {
 public:
  explicit CIE4Events(CWBCustomizer* customizer);
  CIE4Events(const CIE4Events&) = delete;
  CIE4Events& operator=(const CIE4Events&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;
  void forgetCustomizer() { customizer_ = nullptr; }

 private:
  ~CIE4Events() = default;
  LONG references_ = 1;
  CWBCustomizer* customizer_;
};

// Customisers alive now, those a COM client holds included.
long liveCustomizers();
// Called on the releasing thread when the last customiser goes; none by default.
void whenNoCustomizerLeft(std::function<void()> call);

// Opens a web address ("http://" or "https://") in the user's default
// browser, normal window. Any other address is refused: false, nothing opened.
bool openInDefaultBrowser(const std::wstring& url);

}  // namespace installer
