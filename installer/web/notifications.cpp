#include "installer/web/notifications.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "installer/config/install_ini.h"
#include "installer/config/run_log.h"
#include "installer/web/http_client.h"
#include "installer/web/notification_text.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

constexpr std::size_t kAppendedBound = 999;

// Sends the notification and logs the server's answer.
void notify(HttpRequest& request) {
  performHttpRequest(request);
  const std::string where =
      std::string((request.flags & kSecure) ? "https://" : "http://") + request.host + request.path;
  if (request.result == http_result::Received)
    logStep("notification " + where + " answered " + std::to_string(request.statusCode));
  else
    logStep("notification " + where + " failed (" + std::to_string(request.result) + ")");
}

DWORD WINAPI notifyThread(LPVOID param) {
  std::unique_ptr<HttpRequest> request(static_cast<HttpRequest*>(param));
  notify(*request);
  return 0;
}

std::string suffixed(const std::string& iniPath, const std::string& address) {
  return withQuerySuffix(address, readInt(iniPath, keys::PackageId), computerId(), downloadId(iniPath));
}

}  // namespace

std::string computerId() {
  // The machine GUID lives in the 64-bit view, also for a 32-bit program.
  terminal::UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    key.put()) == ERROR_SUCCESS) {
    char guid[100] = {};
    DWORD size = sizeof guid - 1;
    if (RegQueryValueExA(key.get(), "MachineGuid", nullptr, nullptr, reinterpret_cast<BYTE*>(guid), &size) ==
        ERROR_SUCCESS) {
      std::string id = computerIdFromGuid(guid);
      if (!id.empty()) return id;
    }
  }
  DWORD serial = 0;
  GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
  return computerIdFromSerial(serial);
}

std::string downloadId(const std::string& iniPath) { return readText(iniPath, keys::DownloadId); }

void notifyServer(const std::string& iniPath, const TextKey& address, const std::string& extra, bool onOwnThread) {
  const std::string url = readText(iniPath, address);
  if (url.empty()) return;
  auto request = std::make_unique<HttpRequest>();
  if (!splitUrl(url, *request)) return;
  std::string appended = withQuerySuffix("", readInt(iniPath, keys::PackageId), computerId(), downloadId(iniPath));
  // The suffix goes after the URL's own path: "?" or "&" by that path's query.
  if (request->path.find('?') != std::string::npos) appended[0] = '&';
  if (!extra.empty()) appended += "&p1=" + extra;
  request->path += appended.substr(0, kAppendedBound);
  request->verb = "GET";
  if (!onOwnThread) {
    notify(*request);
    return;
  }
  if (terminal::startDetachedThread(notifyThread, request.get()))
    static_cast<void>(request.release());  // the thread frees it
}

void openSuccessPage(const std::string& iniPath) {
  const std::string page = readText(iniPath, keys::WebPage3);
  if (page.empty()) return;
  const std::string address = suffixed(iniPath, page);
  logStep("web page opened: " + address);
  ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace installer
