#include "channels/hub/hub_exchange.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "channels/hub/md5.h"
#include "terminal/http_session.h"
#include "terminal/win_text.h"

namespace lumarel {

namespace {

using terminal::UniqueHttpHandle;

// Only reached through a client, and a client exists only once the table has
// been loaded.
const terminal::WinHttpApi& http() { return *terminal::winHttp(); }

struct OpenRequest {
  UniqueHttpHandle connection;
  UniqueHttpHandle request;
  int failure = 0;
};

OpenRequest openRequest(HINTERNET client, const HubIdentity& identity, const wchar_t* verb, const std::wstring& path) {
  OpenRequest open;
  const std::wstring host = hubHost(identity.server);
  // No host, no connection: some HTTP layers take an empty name for this machine.
  if (!host.empty()) open.connection.reset(http().connect(client, host.c_str(), INTERNET_DEFAULT_HTTP_PORT, 0));
  if (!open.connection) {
    open.failure = hub_code::kConnectFailed;
    return open;
  }
  open.request.reset(http().openRequest(open.connection.get(), verb, path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_REFRESH));
  if (!open.request) open.failure = hub_code::kRequestFailed;
  return open;
}

// Sends the request with its header block and body and waits for the answer.
int exchange(HINTERNET request, const HubIdentity& identity, std::string_view body) {
  const std::wstring headers = buildHubHeaders(identity.userName, identity.password);
  const DWORD length = static_cast<DWORD>(body.size());
  if (!http().sendRequest(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                          length ? const_cast<char*>(body.data()) : WINHTTP_NO_REQUEST_DATA, length, length, 0))
    return hub_code::kSendFailed;
  if (!http().receiveResponse(request, nullptr)) return hub_code::kNoResponse;
  return 0;
}

// Reads up to size bytes that the client reported available, never past
// kMaxHubAnswerBytes in all; false when nothing came.
bool readChunk(HINTERNET request, DWORD size, std::string& into) {
  const std::size_t room = kMaxHubAnswerBytes - std::min(into.size(), kMaxHubAnswerBytes);
  const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, room));
  if (wanted == 0) return false;
  const std::size_t at = into.size();
  into.resize(at + wanted);
  DWORD read = 0;
  const bool ok = http().readData(request, into.data() + at, wanted, &read) && read != 0;
  into.resize(at + (ok ? read : 0));
  return ok;
}

}  // namespace

bool readHubStart(int window, int server, const char* channel, const char* user, const char* password, HWND& chart,
                  HubIdentity& identity) {
  chart = reinterpret_cast<HWND>(static_cast<std::intptr_t>(window));
  if (window == 0 || !IsWindow(chart)) return false;
  if (!channel || !*channel || !user || !*user || !password || !*password) return false;
  identity = {server, terminal::utf8ToWide(channel), terminal::utf8ToWide(user), terminal::utf8ToWide(password)};
  return true;
}

std::wstring hubHost(int server) {
  switch (server) {
    case 1: return L"" LUMAREL_HUB_HOST;
    case 0: return L"" LUMAREL_TEST_HUB_HOST;
    default: return L"";
  }
}

terminal::UniqueHttpHandle openHubClient() { return terminal::openHttpSession(); }

std::wstring passwordDigest(std::wstring_view password) {
  return terminal::utf8ToWide(md5Hex(terminal::wideToUtf8(password)));
}

std::wstring buildHubHeaders(std::wstring_view user, std::wstring_view password) {
  std::wstring headers;
  headers.reserve(user.size() + 1000);
  headers.append(L"Zelk-Version: 100\r\n");
  headers.append(L"Zelk-Username: ").append(user).append(L"\r\n");
  headers.append(L"Zelk-Password: ").append(passwordDigest(password)).append(L"\r\n");
  return headers;
}

SendVerdict sendToHub(HINTERNET client, const HubIdentity& identity, std::string_view message) {
  OpenRequest open = openRequest(client, identity, L"POST", L"/zlk/channels/send.aspx?c=" + identity.channel);
  if (open.failure) return {open.failure, false};
  if (const int failure = exchange(open.request.get(), identity, message)) return {failure, false};
  // Only what is there at the first read is examined.
  DWORD available = 0;
  if (!http().queryDataAvailable(open.request.get(), &available)) return {hub_code::kQueryDataFailed, false};
  if (available == 0) return {hub_code::kNoBody, false};
  std::string answer;
  if (!readChunk(open.request.get(), available, answer)) return {hub_code::kReadFailed, false};
  return readSendAnswer(answer);
}

ReceiveExchange receiveFromHub(HINTERNET client, const HubIdentity& identity, int lastSeenId) {
  ReceiveExchange result;
  OpenRequest open =
      openRequest(client, identity, L"GET",
                  L"/zlk/channels/receive.aspx?c=" + identity.channel + L"&r=" + std::to_wstring(lastSeenId));
  if (open.failure) {
    result.failure = open.failure;
    return result;
  }
  terminal::setHttpTimeouts(open.request.get());
  if ((result.failure = exchange(open.request.get(), identity, {}))) return result;

  DWORD available = 0;
  if (!http().queryDataAvailable(open.request.get(), &available)) {
    result.failure = hub_code::kQueryDataFailed;
    return result;
  }
  if (available == 0) {
    result.failure = hub_code::kNoBody;
    return result;
  }
  if (available > kMaxHubAnswerBytes) {
    result.failure = hub_code::kReadFailed;
    return result;
  }
  std::string answer;
  if (!readChunk(open.request.get(), available, answer)) {
    result.failure = hub_code::kReadFailed;
    return result;
  }
  // The rest, chunk after chunk, until the client has no more. An answer
  // that passes the limit is not read on: it gives 8, as a failed read.
  while (http().queryDataAvailable(open.request.get(), &available) && available > 0) {
    if (answer.size() + available > kMaxHubAnswerBytes) {
      result.failure = hub_code::kReadFailed;
      return result;
    }
    if (!readChunk(open.request.get(), available, answer)) break;
  }
  result.answer = readReceiveAnswer(answer, lastSeenId);
  return result;
}

}  // namespace lumarel
