#include "installer/install/install_copy.h"

#include <windows.h>

#include <algorithm>

#include "installer/config/install_ini.h"
#include "installer/config/prompts.h"
#include "installer/config/run_log.h"
#include "installer/install/chart_fixup.h"
#include "installer/install/install_rules.h"
#include "installer/install/mql4_folder.h"
#include "terminal/system_library.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

// The installer's own folder, with its backslash.
std::string sourceFolder() {
  char path[MAX_PATH] = {};
  const DWORD got = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string program(path, got < MAX_PATH ? got : 0);
  return program.substr(0, program.rfind('\\') + 1);
}

using FolderQuery = UINT(WINAPI*)(LPSTR, UINT);

// A system folder with a backslash, or "" where the system has none.
std::string systemFolder(FolderQuery query) {
  // Read into 258 characters and a terminator, so that the folder with its
  // backslash stays within the path limit.
  char folder[kMaxPathChars] = {};
  const UINT got = query(folder, kMaxPathChars);
  if (got == 0 || got >= kMaxPathChars) return {};
  return withBackslash(folder);
}

// Every missing level of `below`, a relative folder, under `base`.
std::string makeFoldersBelow(const std::string& base, std::string_view below) {
  std::string folder = withBackslash(base);
  for (std::size_t start = 0; start < below.size();) {
    const std::size_t end = std::min(below.find('\\', start), below.size());
    if (end > start) {
      folder += below.substr(start, end - start);
      folder += '\\';
      if (folder.size() <= kMaxPathChars) CreateDirectoryA(folder.c_str(), nullptr);
    }
    start = end + 1;
  }
  return folder;
}

std::string destinationFolder(const std::string& root, const std::string& destination) {
  switch (classifyDestination(destination)) {
    case Destination::System32: return systemFolder(GetSystemWow64DirectoryA);
    case Destination::System64: return systemFolder(GetSystemDirectoryA);
    case Destination::Windows: return systemFolder(GetWindowsDirectoryA);
    case Destination::Mql4: {
      const std::string mql4 = mql4Folder(root);
      return mql4.empty() ? std::string() : makeFoldersBelow(mql4, mql4Subfolder(destination));
    }
    case Destination::CopyFolder: break;
  }
  const std::string folder = withBackslash(withBackslash(root) + destination);
  if (folder.size() <= kMaxPathChars) CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

// While it lives, this thread's file paths reach the 64-bit system folder
// from a 32-bit installer on 64-bit Windows. Only the copy into a system
// folder needs it: the shell, the folder browser and the programs the
// installer starts must see the folders of its own bitness.
class NativeSystemFolders {
 public:
  explicit NativeSystemFolders(bool wanted) {
#ifndef _WIN64
    using Disable = BOOL(WINAPI*)(PVOID*);
    if (!wanted) return;
    auto disable = terminal::procAddress<Disable>(GetModuleHandleA("kernel32.dll"), "Wow64DisableWow64FsRedirection");
    switched_ = disable && disable(&previous_);
#else
    static_cast<void>(wanted);
#endif
  }
  ~NativeSystemFolders() {
#ifndef _WIN64
    using Revert = BOOL(WINAPI*)(PVOID);
    auto revert = terminal::procAddress<Revert>(GetModuleHandleA("kernel32.dll"), "Wow64RevertWow64FsRedirection");
    if (switched_ && revert) revert(previous_);
#endif
  }
  NativeSystemFolders(const NativeSystemFolders&) = delete;
  NativeSystemFolders& operator=(const NativeSystemFolders&) = delete;

 private:
  [[maybe_unused]] bool switched_ = false;
  [[maybe_unused]] PVOID previous_ = nullptr;
};

// The copy's own last error survives switching redirection back on.
bool copyFile(const std::string& source, const std::string& destination, bool intoSystemFolder) {
  BOOL copied = FALSE;
  DWORD error = 0;
  {
    const NativeSystemFolders native(intoSystemFolder);
    copied = CopyFileA(source.c_str(), destination.c_str(), FALSE);
    error = GetLastError();
  }
  SetLastError(error);
  return copied != FALSE;
}

bool sourceExists(const std::string& source) {
  terminal::UniqueFile file(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  return static_cast<bool>(file);
}

void writeSetting(const std::string& root, const char* key, const std::string& value) {
  const std::string file = withBackslash(root) + "config\\terminal.ini";
  if (file.size() > kMaxPathChars) return;
  WritePrivateProfileStringA("Settings", key, value.c_str(), file.c_str());
}

// Copies one [Install] entry; false when the copy must count as failed.
bool installFile(const std::string& iniPath, const std::string& root, const std::string& from, const std::string& key,
                 HWND messageOwner) {
  // A path over 259 characters is never cut into another path: the entry
  // fails as a missing source would, naming the path.
  const std::string source = from + key;
  if (source.size() > kMaxPathChars || !sourceExists(source)) {
    logStep("not copied, missing from the package: " + key);
    showFixedError(source, kMissingFileCaption);
    return false;
  }
  const std::string value = readValue(iniPath, sections::Install, key, kEntryValueBound);
  if (value.empty()) {
    logStep("not copied, no destination: " + key);
    showFixedError(key, kNoDestinationCaption);
    return true;
  }
  const InstallValue target = splitInstallValue(value);
  const bool ignoreFailure = (target.flags & kIgnoreCopyFailure) != 0;
  const std::string folder = destinationFolder(root, target.destination);
  if (folder.empty()) {
    // This Windows has no such system folder (system32 on 32-bit Windows), or
    // the copy's MQL4 folder cannot be had.
    logStep("not copied, no folder for the destination " + target.destination + ": " + key +
            (ignoreFailure ? " (ignored: flag 1)" : ""));
    if (!ignoreFailure) showFixedError(key, kNoDestinationCaption);
    return ignoreFailure;
  }
  const std::string destination = folder + key;
  if (destination.size() > kMaxPathChars) {
    // No file can be copied there: a failed copy, which flag 1 lets pass.
    logStep("not copied, the path is over 259 characters: " + destination +
            (ignoreFailure ? " (ignored: flag 1)" : ""));
    if (ignoreFailure) return true;
    showFixedError(destination, kMissingFileCaption);
    return false;
  }
  // Redirection goes off for the system and Windows folders only: an MQL4
  // folder or a copy's own folder is reached by the path as it is.
  const Destination kind = classifyDestination(target.destination);
  const bool intoSystemFolder = kind != Destination::CopyFolder && kind != Destination::Mql4;
  if (copyFile(source, destination, intoSystemFolder)) {
    logStep("copied " + key + " to " + destination);
    return true;
  }
  logStep("copy of " + key + " to " + destination + " failed (error " + std::to_string(GetLastError()) + ")" +
          (ignoreFailure ? ", ignored: flag 1" : ""));
  if (ignoreFailure) return true;
  const std::string text = readPrompt(iniPath, prompts::InUse.textKey, prompts::InUse.defaultText);
  showPromptMessage(messageOwner, text, key, MB_ICONERROR | MB_SYSTEMMODAL);
  return false;
}

}  // namespace

void markNewInstallation(const std::string& root) { writeSetting(root, "LastScanTime", ""); }

void writeHideHelpMarker(const std::string& root) { writeSetting(root, "LastScanHash", hideHelpMarker(root)); }

bool installIntoCopy(const std::string& iniPath, const std::string& root, bool newlyInstalledCopy, HWND messageOwner) {
  logStep("installing into the copy " + root + (newlyInstalledCopy ? " (just installed)" : ""));
  const std::string base = withBackslash(root);
  for (const auto& key : readKeyList(iniPath, sections::Delete)) {
    const std::string path = base + key;
    if (path.size() <= kMaxPathChars && DeleteFileA(path.c_str())) logStep("deleted " + path);
  }
  for (const auto& key : readKeyList(iniPath, sections::Directories)) {
    const std::string path = base + key;
    if (path.size() <= kMaxPathChars && CreateDirectoryA(path.c_str(), nullptr)) logStep("folder made: " + path);
  }
  bool installed = true;
  const std::string from = sourceFolder();
  for (const auto& key : readKeyList(iniPath, sections::Install)) {
    if (!installFile(iniPath, root, from, key, messageOwner)) installed = false;
  }
  // The markers follow the files whatever their result.
  if (readInt(iniPath, keys::SetNewInstallationMarker) != 0) markNewInstallation(root);
  if (readInt(iniPath, keys::DoChartSymbolFixup) != 0) fixChartSymbols(root);
  if (readInt(iniPath, keys::HideHelp) != 0 || (readInt(iniPath, keys::HideHelp2) != 0 && newlyInstalledCopy))
    writeHideHelpMarker(root);
  logStep(std::string(installed ? "installed into the copy " : "installation failed in the copy ") + root);
  return installed;
}

}  // namespace installer
