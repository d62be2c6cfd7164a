#pragma once
// Installing MetaTrader 4 itself before the add-on, when the package asks for
// it: where to download the setup program from, the download, the setup run
// and the copy it installed, which becomes the only target.
#include <cstdint>
#include <functional>
#include <string>

#include "installer/config/install_request.h"
#include "installer/config/run_end.h"
#include "terminal/win_handles.h"

namespace installer {

// Setup programs are a few megabytes; a body past this is no setup program
// and must not fill the disk.
inline constexpr std::uint64_t kMaxSetupProgramBytes = 512ull * 1024 * 1024;

// The server's answer is taken as the URL only when it fits the location
// buffer; a longer one would be cut into another address.
inline constexpr std::size_t kMaxLocationLength = 4095;

// The window shown while the setup program downloads, the installer's
// progress window: shown with the request's progressText, and closed before
// the setup program or a message shows, `close` returning once it is gone.
struct DownloadProgress {
  std::function<void(InstallRequest&)> show;
  std::function<void()> close;
};

// kStepGoOn: go on with the installation (copyCount tells whether a copy was
// installed, then it is copyPaths[0]); kStepFailed: end the installer, every
// message already shown; kStepEndedByUser: the broker page was closed.
StepEnd installTerminalIfWanted(InstallRequest& request, const DownloadProgress& progress);

// Asks the app-store server for the setup program's URL of a source key; on
// success the key is replaced by the URL.
bool requestDownloadLocation(std::string& location);

// The URL's body written into the file; false on any failure, a status
// outside 200 to 299 and a body over `maxBytes` included.
bool downloadToFile(const std::string& url, const std::string& path, std::uint64_t maxBytes = kMaxSetupProgramBytes);

// Runs the downloaded setup program, waits for it, and takes the copy it
// installed as the request's only copy; kStepGoOn when it installed one.
// Shows Err5 or Aborted otherwise. `heldOpen`, the file opened for reading
// only, is closed once the process has started. Deletes the downloaded file
// in every case.
StepEnd runTerminalSetup(const std::string& setupPath, terminal::UniqueFile heldOpen, InstallRequest& request,
                         const std::string& location);

// "mt4-%08X%08X.exe" of the milliseconds since system start and the seconds
// since 1970, below `tempFolder` (ending in a backslash): the run's own
// setup folder.
std::string setupProgramPath(const std::string& tempFolder, std::uint32_t tickCount, std::uint32_t unixSeconds);

}  // namespace installer
