#include "installer/web/browser_host.h"

#include <atomic>
#include <mutex>

#include "terminal/system_library.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxCreateControlFn = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**);
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

struct AtlHosting {
  AtlAxWinInitFn winInit = nullptr;
  AtlAxCreateControlFn createControl = nullptr;
  AtlAxGetControlFn getControl = nullptr;
};

// Loaded once and kept: the host windows' procedures live in it.
const AtlHosting& atlHosting() {
  static AtlHosting hosting;
  static std::once_flag once;
  std::call_once(once, [] {
    const HMODULE atl = terminal::loadSystemLibrary(L"atl.dll");
    if (!atl) return;
    hosting.winInit = terminal::procAddress<AtlAxWinInitFn>(atl, "AtlAxWinInit");
    hosting.createControl = terminal::procAddress<AtlAxCreateControlFn>(atl, "AtlAxCreateControl");
    hosting.getControl = terminal::procAddress<AtlAxGetControlFn>(atl, "AtlAxGetControl");
  });
  return hosting;
}

}  // namespace

std::wstring ansiToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

bool initControlHosting() {
  // The host window classes belong to the process: once registered they
  // serve every later dialog. Asked again, some hostings fail because the
  // classes exist.
  static std::atomic<bool> started{false};
  if (started) return true;
  const AtlHosting& atl = atlHosting();
  if (!atl.winInit || !atl.createControl || !atl.getControl) return false;
  started = atl.winInit() != FALSE;
  return started;
}

HRESULT createBrowserIn(HWND placeholder, const std::wstring& url, IWebBrowser2** browser) {
  *browser = nullptr;
  const AtlHosting& atl = atlHosting();
  if (!atl.createControl || !atl.getControl) return E_FAIL;
  terminal::ComPtr<IUnknown> container;
  const HRESULT created = atl.createControl(url.c_str(), placeholder, nullptr, container.put());
  if (FAILED(created)) return created;
  SetWindowTextW(placeholder, url.c_str());
  // The host window gives the control itself; the container object does not
  // answer for it everywhere.
  terminal::ComPtr<IUnknown> control;
  if (FAILED(atl.getControl(placeholder, control.put())) || !control) return S_OK;
  control->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(browser));
  return S_OK;
}

void showWebPageIn(HWND placeholder, const std::string& url) {
  if (!placeholder || url.empty() || !initControlHosting()) return;
  IWebBrowser2* browser = nullptr;
  createBrowserIn(placeholder, ansiToWide(url), &browser);
  if (browser) browser->Release();  // the host window keeps the control
}

}  // namespace installer
