#include "installer/web/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <new>
#include <vector>

#include "terminal/http_session.h"
#include "terminal/win_text.h"

namespace installer {

namespace {

using terminal::UniqueHttpHandle;

int performRequest(HttpRequest& request) {
  using namespace http_result;
  request.responseText.clear();
  request.statusCode = 0;
  if (request.verb.empty() || request.host.empty() || request.path.empty()) return request.result = MissingPart;
  const std::wstring host = utf8ToWide(request.host);
  const std::wstring path = utf8ToWide(request.path);
  const std::wstring verb = utf8ToWide(request.verb);
  const bool secure = (request.flags & kSecure) != 0;

  UniqueHttpHandle session = terminal::openHttpSession();
  if (!session) return request.result = NoSession;
  const terminal::WinHttpApi& http = *terminal::winHttp();
  UniqueHttpHandle connection(
      http.connect(session.get(), host.c_str(), secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT, 0));
  if (!connection) return request.result = NoConnection;
  UniqueHttpHandle handle(http.openRequest(connection.get(), verb.c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           WINHTTP_FLAG_REFRESH | (secure ? WINHTTP_FLAG_SECURE : 0)));
  if (!handle) return request.result = NoRequest;
  terminal::setHttpTimeouts(handle.get());

  const std::wstring headers = utf8ToWide(request.extraHeaders);
  const DWORD bodyLength = static_cast<DWORD>(request.body.size());
  if (!http.sendRequest(handle.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                        static_cast<DWORD>(headers.size()),
                        bodyLength ? const_cast<char*>(request.body.data()) : WINHTTP_NO_REQUEST_DATA, bodyLength,
                        bodyLength, 0))
    return request.result = SendFailed;
  if (!http.receiveResponse(handle.get(), nullptr)) return request.result = NoResponse;

  DWORD status = 0, size = sizeof status;
  http.queryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                    &status, &size, WINHTTP_NO_HEADER_INDEX);
  request.statusCode = status;

  const bool toFile = (request.flags & kWriteToFile) != 0;
  terminal::UniqueFile file;
  if (toFile) {
    file.reset(CreateFileA(request.outputFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
    if (!file) return request.result = FileNotCreated;
  }
  // The body is judged by the length the server announced, when it did: a
  // connection that ends early is a cut body, never a complete one.
  std::uint64_t announced = 0;
  bool lengthKnown = false;
  {
    wchar_t text[32] = {};
    DWORD textSize = sizeof text;
    if (http.queryHeaders(handle.get(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &textSize,
                          WINHTTP_NO_HEADER_INDEX)) {
      wchar_t* end = nullptr;
      announced = wcstoull(text, &end, 10);
      lengthKnown = end != text && *end == L'\0';
    }
  }
  bool received = false;
  std::uint64_t total = 0;
  for (;;) {
    DWORD available = 0;
    if (!http.queryDataAvailable(handle.get(), &available)) return request.result = ReadFailed;
    if (available == 0) break;
    std::vector<char> chunk(available + 1, '\0');
    DWORD got = 0;
    if (!http.readData(handle.get(), chunk.data(), available, &got)) return request.result = ReadFailed;
    if (got == 0) break;
    received = true;
    total += got;
    if (request.maxBodyBytes != 0 && total > request.maxBodyBytes) return request.result = TooLarge;
    if (toFile) {
      DWORD written = 0;
      if (!WriteFile(file.get(), chunk.data(), got, &written, nullptr) || written != got)
        return request.result = WriteFailed;
    } else {
      request.responseText += chunk.data();  // a text: cut at a zero byte
    }
  }
  if (lengthKnown && total != announced) return request.result = ReadFailed;
  return request.result = received ? Received : EmptyBody;
}

}  // namespace

int performHttpRequest(HttpRequest& request) {
  // A failed allocation abandons the request and leaves its result as it
  // stands; it must not end the thread (on the notification thread it would
  // end the process).
  try {
    return performRequest(request);
  } catch (const std::bad_alloc&) {
    return request.result;
  }
}

bool splitUrl(const std::string& url, HttpRequest& request) {
  const std::wstring wide = utf8ToWide(url);
  wchar_t host[100] = {};
  wchar_t path[1000] = {};
  wchar_t extra[1000] = {};
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 100;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 1000;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = 1000;
  const terminal::WinHttpApi* http = terminal::winHttp();
  if (!http || wide.empty() || !http->crackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) return false;
  const std::wstring fullPath = std::wstring(path) + extra;
  if (fullPath.size() > 999) return false;  // never cut into another address
  request.host = wideToUtf8(host);
  request.path = wideToUtf8(fullPath);
  if (parts.nScheme == INTERNET_SCHEME_HTTPS)
    request.flags |= kSecure;
  else
    request.flags &= ~kSecure;
  return true;
}

}  // namespace installer
