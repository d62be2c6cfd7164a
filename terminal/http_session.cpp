#include "terminal/http_session.h"

#include "terminal/system_library.h"

namespace terminal {

namespace {

template <typename F>
bool resolve(HMODULE module, const char* name, F& function) {
  function = procAddress<F>(module, name);
  return function != nullptr;
}

const WinHttpApi* loadWinHttp() {
  static WinHttpApi api;
  // Never freed: handles of the table's functions live until the process ends.
  const HMODULE module = loadSystemLibrary(L"winhttp.dll");
  if (!module) return nullptr;
  const bool complete = resolve(module, "WinHttpOpen", api.open) && resolve(module, "WinHttpConnect", api.connect) &&
                        resolve(module, "WinHttpOpenRequest", api.openRequest) &&
                        resolve(module, "WinHttpSetTimeouts", api.setTimeouts) &&
                        resolve(module, "WinHttpSendRequest", api.sendRequest) &&
                        resolve(module, "WinHttpReceiveResponse", api.receiveResponse) &&
                        resolve(module, "WinHttpQueryHeaders", api.queryHeaders) &&
                        resolve(module, "WinHttpQueryDataAvailable", api.queryDataAvailable) &&
                        resolve(module, "WinHttpReadData", api.readData) &&
                        resolve(module, "WinHttpCrackUrl", api.crackUrl) &&
                        resolve(module, "WinHttpCloseHandle", api.closeHandle);
  return complete ? &api : nullptr;
}

}  // namespace

const WinHttpApi* winHttp() {
  static const WinHttpApi* const api = loadWinHttp();  // once, also with several threads
  return api;
}

UniqueHttpHandle openHttpSession() {
  const WinHttpApi* api = winHttp();
  if (!api) return UniqueHttpHandle();
  return UniqueHttpHandle(
      api->open(L"zelk", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

void setHttpTimeouts(HINTERNET request) {
  winHttp()->setTimeouts(request, kResolveTimeoutMs, kTransferTimeoutMs, kTransferTimeoutMs, kTransferTimeoutMs);
}

}  // namespace terminal
