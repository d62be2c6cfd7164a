#include "installer/web/terminal_download.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <ctime>

#include "installer/config/install_ini.h"
#include "installer/config/prompts.h"
#include "installer/config/run_log.h"
#include "installer/discovery/discovery.h"
#include "installer/web/browser_host.h"
#include "installer/web/http_client.h"
#include "installer/web/notifications.h"
#include "installer/web/setup_trust.h"
#include "installer/web/web_pages.h"
#include "terminal/win_handles.h"

#ifndef MARVOLT_APPSTORE_HOST
#error "MARVOLT_APPSTORE_HOST names the app-store server"
#endif

namespace installer {

namespace {

constexpr UINT kWarning = MB_ICONWARNING | MB_SYSTEMMODAL;

bool statusOk(const HttpRequest& request) {
  return request.result == http_result::Received && request.statusCode >= 200 && request.statusCode <= 299;
}

// The progress window must be gone before a message box shows, or it would
// stand in front of it.
StepEnd failDownload(const InstallRequest& request, const DownloadProgress& progress, const Prompt& prompt) {
  progress.close();
  showPrompt(request.iniPath, nullptr, prompt, kWarning);
  return kStepFailed;
}

}  // namespace

std::string setupProgramPath(const std::string& tempFolder, std::uint32_t tickCount, std::uint32_t unixSeconds) {
  char name[32];
  std::snprintf(name, sizeof name, "mt4-%08X%08X.exe", static_cast<unsigned>(tickCount),
                static_cast<unsigned>(unixSeconds));
  return tempFolder + name;
}

bool requestDownloadLocation(std::string& location) {
  HttpRequest request;
  request.verb = "POST";
  request.host = MARVOLT_APPSTORE_HOST;
  request.path = "/appstore/GetMT4DownloadLocation.aspx";
  request.body = location;                    // the key as it stands: no encoding, no content type
  request.maxBodyBytes = kMaxLocationLength;  // a longer answer is no address of ours
  performHttpRequest(request);
  if (!statusOk(request) || request.responseText.size() > kMaxLocationLength) return false;
  location = request.responseText;
  return true;
}

bool downloadToFile(const std::string& url, const std::string& path, std::uint64_t maxBytes) {
  HttpRequest request;
  if (!splitUrl(url, request)) return false;
  request.verb = "GET";
  request.outputFile = path;
  request.flags |= kWriteToFile;
  request.maxBodyBytes = maxBytes;
  performHttpRequest(request);
  return statusOk(request);
}

StepEnd runTerminalSetup(const std::string& setupPath, terminal::UniqueFile heldOpen, InstallRequest& request,
                         const std::string& location) {
  SetupCopyList known;
  scanSetupCopies(ScanMode::Snapshot, known, request.iniPath);

  SHELLEXECUTEINFOA setup = {};
  setup.cbSize = sizeof setup;
  // The shell's own error box would come on top of Err5.
  setup.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  setup.lpVerb = "open";
  setup.lpFile = setupPath.c_str();
  setup.nShow = SW_SHOWNORMAL;
  const BOOL started = ShellExecuteExA(&setup);
  // The file stays open, denying writes and deletion, until the process has
  // started from the bytes whose signature was checked.
  heldOpen.reset();
  if (!started) {
    logStep("the MetaTrader 4 setup program did not start (error " + std::to_string(GetLastError()) + ")");
    DeleteFileA(setupPath.c_str());
    showPrompt(request.iniPath, nullptr, prompts::Err5, kWarning);
    return kStepFailed;
  }
  logStep("MetaTrader 4 setup program run: " + setupPath);
  if (const terminal::UniqueHandle process(setup.hProcess); process) WaitForSingleObject(process.get(), INFINITE);
  DeleteFileA(setupPath.c_str());

  const int found = scanSetupCopies(ScanMode::Compare, known, request.iniPath);
  // A per-user entry naming no folder is no copy to install into.
  if (found < 0 || known.entries[found].folder.empty()) {
    // Whether the person cancelled the setup program or it failed, no copy
    // came of it: the installation failed.
    showPrompt(request.iniPath, nullptr, prompts::Aborted, kWarning);
    return kStepFailed;
  }
  request.copyCount = 1;
  request.copyPaths[0] = known.entries[found].folder;
  logStep("MetaTrader 4 installed into " + request.copyPaths[0]);
  notifyServer(request.iniPath, keys::MessageUrl2, location, false);
  return kStepGoOn;
}

StepEnd installTerminalIfWanted(InstallRequest& request, const DownloadProgress& progress) {
  std::string location = readText(request.iniPath, keys::MT4Location);
  if (location.empty()) return kStepGoOn;
  if (lstrcmpiA(location.c_str(), "ask!") == 0) {
    StepEnd noChoice = kStepEndedByUser;
    const std::optional<std::string> answer = chooseBroker(request.iniPath, &noChoice);
    if (!answer) return noChoice;
    if (lstrcmpiA(answer->c_str(), "skip!") == 0) return kStepGoOn;
    location = *answer;
  }

  request.progressText = "Downloading MetaTrader 4...";
  request.showActivityCode = 1;
  progress.show(request);
  if (dialogFailed()) return kStepFailed;  // no progress window could be made: already said

  // The server is told the location as configured or chosen, not the URL.
  std::string url = location;
  if (url.find("://") == std::string::npos && !requestDownloadLocation(url))
    return failDownload(request, progress, prompts::Err3);

  const SetupFolder folder;
  if (!folder) return failDownload(request, progress, prompts::Err4);
  const std::string setupPath =
      setupProgramPath(folder.path(), GetTickCount(), static_cast<std::uint32_t>(std::time(nullptr)));
  logStep("MetaTrader 4 download from " + url);
  if (!downloadToFile(url, setupPath)) {
    DeleteFileA(setupPath.c_str());  // a partial or refused body is no setup program
    return failDownload(request, progress, prompts::Err4);
  }
  // From here until the setup process has started nobody may change or
  // replace the file: it is shared for reading only.
  terminal::UniqueFile heldOpen(CreateFileA(setupPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!heldOpen) return failDownload(request, progress, prompts::Err4);
  // It runs with administrator rights: only what an accepted publisher signed.
  const bool trusted = signedByAcceptedPublisher(heldOpen.get(), setupPath, setupSignersOf(request.iniPath));
  progress.close();
  if (!trusted) {
    logStep("the downloaded MetaTrader 4 setup program is not signed by an accepted publisher: deleted, not run");
    heldOpen.reset();
    DeleteFileA(setupPath.c_str());
    showPrompt(request.iniPath, nullptr, prompts::UntrustedSetup, MB_ICONERROR | MB_SYSTEMMODAL);
    return kStepFailed;
  }
  return runTerminalSetup(setupPath, std::move(heldOpen), request, location);
}

}  // namespace installer
