#include "installer/install/install_copy.h"

#include <windows.h>

#include "installer/config/install_ini.h"
#include "installer/config/prompts.h"
#include "installer/install/chart_fixup.h"
#include "installer/install/install_rules.h"
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

std::string destinationFolder(const std::string& root, const std::string& destination) {
  switch (classifyDestination(destination)) {
    case Destination::System32: return systemFolder(GetSystemWow64DirectoryA);
    case Destination::System64: return systemFolder(GetSystemDirectoryA);
    case Destination::Windows: return systemFolder(GetWindowsDirectoryA);
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

bool copyFile(const std::string& source, const std::string& destination, bool intoSystemFolder) {
  const NativeSystemFolders native(intoSystemFolder);
  return CopyFileA(source.c_str(), destination.c_str(), FALSE) != FALSE;
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
    showFixedError(source, kMissingFileCaption);
    return false;
  }
  const std::string value = readValue(iniPath, sections::Install, key, kEntryValueBound);
  if (value.empty()) {
    showFixedError(key, kNoDestinationCaption);
    return true;
  }
  const InstallValue target = splitInstallValue(value);
  const bool ignoreFailure = (target.flags & kIgnoreCopyFailure) != 0;
  const std::string folder = destinationFolder(root, target.destination);
  if (folder.empty()) {
    // This Windows has no such system folder (system32 on 32-bit Windows).
    if (!ignoreFailure) showFixedError(key, kNoDestinationCaption);
    return ignoreFailure;
  }
  const std::string destination = folder + key;
  if (destination.size() > kMaxPathChars) {
    // No file can be copied there: a failed copy, which flag 1 lets pass.
    if (ignoreFailure) return true;
    showFixedError(destination, kMissingFileCaption);
    return false;
  }
  const bool intoSystemFolder = classifyDestination(target.destination) != Destination::CopyFolder;
  if (copyFile(source, destination, intoSystemFolder) || ignoreFailure) return true;
  const std::string text = readPrompt(iniPath, prompts::InUse.textKey, prompts::InUse.defaultText);
  showPromptMessage(messageOwner, text, key, MB_ICONERROR | MB_SYSTEMMODAL);
  return false;
}

}  // namespace

void markNewInstallation(const std::string& root) { writeSetting(root, "LastScanTime", ""); }

void writeHideHelpMarker(const std::string& root) { writeSetting(root, "LastScanHash", hideHelpMarker(root)); }

bool installIntoCopy(const std::string& iniPath, const std::string& root, bool newlyInstalledCopy, HWND messageOwner) {
  const std::string base = withBackslash(root);
  for (const auto& key : readKeyList(iniPath, sections::Delete)) {
    const std::string path = base + key;
    if (path.size() <= kMaxPathChars) DeleteFileA(path.c_str());
  }
  for (const auto& key : readKeyList(iniPath, sections::Directories)) {
    const std::string path = base + key;
    if (path.size() <= kMaxPathChars) CreateDirectoryA(path.c_str(), nullptr);
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
  return installed;
}

}  // namespace installer
