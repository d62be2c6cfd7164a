// prefix_warmup URL: one GET through MSXML's request object, then nothing.
//
// Under the first wineserver of a new prefix, once a program has made an HTTP
// request through MSXML, every later program that uses COM waits 10 to 20 s at
// its start; under a server started afterwards, none does. A new prefix is
// therefore given this one request and its server is started again before any
// timed work (the tests, the demo). Prints the answer's status, or why none.
#include <windows.h>
#include <objbase.h>
#include <msxml2.h>

#include <cstdio>
#include <string>

namespace {

// IXMLHTTPRequest, {ED8C108D-4349-11D2-91A4-00C04F7969E8}.
const IID kXmlHttpRequestIid = {0xED8C108D, 0x4349, 0x11D2, {0x91, 0xA4, 0x00, 0xC0, 0x4F, 0x79, 0x69, 0xE8}};

int request(const wchar_t* url) {
  CLSID type;
  IXMLHTTPRequest* request = nullptr;
  if (FAILED(CLSIDFromProgID(L"Msxml2.XMLHTTP.3.0", &type)) ||
      FAILED(CoCreateInstance(type, nullptr, CLSCTX_INPROC_SERVER, kXmlHttpRequestIid,
                              reinterpret_cast<void**>(&request)))) {
    std::puts("prefix_warmup: no MSXML request object");
    return 1;
  }
  VARIANT synchronous, none;
  VariantInit(&synchronous);
  V_VT(&synchronous) = VT_BOOL;
  V_BOOL(&synchronous) = VARIANT_FALSE;
  VariantInit(&none);
  BSTR method = SysAllocString(L"GET");
  BSTR address = SysAllocString(url);
  long status = 0;
  const bool sent = SUCCEEDED(request->open(method, address, synchronous, none, none)) &&
                    SUCCEEDED(request->send(none)) && SUCCEEDED(request->get_status(&status));
  SysFreeString(method);
  SysFreeString(address);
  request->Release();
  if (!sent) {
    std::puts("prefix_warmup: the request was not answered");
    return 1;
  }
  std::printf("prefix_warmup: HTTP status %ld\n", status);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::puts("usage: prefix_warmup URL");
    return 2;
  }
  const std::string url = argv[1];
  const std::wstring wideUrl(url.begin(), url.end());  // an address is ASCII
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const int result = request(wideUrl.c_str());
  CoUninitialize();
  return result;
}
