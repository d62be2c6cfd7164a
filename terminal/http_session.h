#pragma once
// WinHTTP as both deliverables use it: the session with user agent "zelk" and
// the request time-outs. The functions come from a table loaded at run time
// from the system folder, so that a program importing nothing of WinHTTP
// cannot be made to load a winhttp.dll planted beside it.
#include <windows.h>
#include <winhttp.h>

#include "terminal/win_handles.h"

namespace terminal {

struct WinHttpApi {
  decltype(&WinHttpOpen) open;
  decltype(&WinHttpConnect) connect;
  decltype(&WinHttpOpenRequest) openRequest;
  decltype(&WinHttpSetTimeouts) setTimeouts;
  decltype(&WinHttpSendRequest) sendRequest;
  decltype(&WinHttpReceiveResponse) receiveResponse;
  decltype(&WinHttpQueryHeaders) queryHeaders;
  decltype(&WinHttpQueryDataAvailable) queryDataAvailable;
  decltype(&WinHttpReadData) readData;
  decltype(&WinHttpCrackUrl) crackUrl;
  decltype(&WinHttpCloseHandle) closeHandle;
};

// The table, loaded on first use; null when winhttp.dll or one of its
// functions cannot be had from the system folder.
const WinHttpApi* winHttp();

struct HttpHandleTraits {
  static HINTERNET invalid() { return nullptr; }
  static bool valid(HINTERNET h) { return h != nullptr; }
  static void close(HINTERNET h) { winHttp()->closeHandle(h); }  // only a table-made handle exists
};
using UniqueHttpHandle = Unique<HINTERNET, HttpHandleTraits>;

inline constexpr int kResolveTimeoutMs = 30000;
inline constexpr int kTransferTimeoutMs = 120000;  // connect, send and receive each

// A synchronous session with user agent "zelk" and the default proxy setting;
// null when WinHTTP is not available.
UniqueHttpHandle openHttpSession();

// Name resolution 30 s; connect, send and receive 120 s each.
void setHttpTimeouts(HINTERNET request);

}  // namespace terminal
