// A stand-in for the MetaTrader 4 setup program, doing what the installer
// reads of the real one: the copy's folder with terminal.exe and its layout,
// the per-user "InstallPath" value, and an Uninstall entry whose
// "UninstallString" names the copy's uninstall.exe.
//
// The script appended to its file (see script.h), or else the file named by
// the environment variable MT4SETUP_SCRIPT (a signed program cannot take a
// script appended after signing), says what to do:
//   action=install|cancel|rewrite   (default install; a file name containing
//                                    "cancel" cancels when there is no script)
//   folder=<copy root>              install: created; rewrite: the known copy
//   entry=<Uninstall subkey name>   install: created; rewrite: written again
//   log=<file>                      what it saw: its path, the progress window,
//                                   the access list of its folder
// A line "end" ends the script: a signature may follow it.
#include <windows.h>

#include <sddl.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "testing/mt4setup/script.h"

namespace {

constexpr const char* kUserKey = "Software\\MetaQuotes Software\\MetaTrader 4";
constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string ownPath() {
  char path[MAX_PATH * 2] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::map<std::string, std::string> readScript(const std::string& path) {
  std::string bytes = fileBytes(path);
  std::map<std::string, std::string> script;
  auto at = bytes.rfind(mt4setup::scriptMarker());
  if (at == std::string::npos) {
    char named[MAX_PATH * 2] = {};
    const DWORD got = GetEnvironmentVariableA("MT4SETUP_SCRIPT", named, sizeof named);
    if (got == 0 || got >= sizeof named) return script;
    bytes = mt4setup::scriptMarker() + fileBytes(named);
    at = 0;
  }
  std::istringstream lines(bytes.substr(at + mt4setup::scriptMarker().size()));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "end") break;
    const auto equals = line.find('=');
    if (equals != std::string::npos) script[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return script;
}

void makeFolders(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  CreateDirectoryA(path.c_str(), nullptr);
}

bool setString(HKEY root, const std::string& key, const char* name, const std::string& value) {
  HKEY opened = nullptr;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG done = RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1));
  RegCloseKey(opened);
  return done == ERROR_SUCCESS;
}

// Whether the installer's download progress window is still on the screen.
BOOL CALLBACK findProgress(HWND window, LPARAM found) {
  char text[64] = {};
  if (IsWindowVisible(window) && GetDlgItemTextA(window, 213, text, sizeof text) &&
      std::strcmp(text, "Downloading MetaTrader 4...") == 0)
    *reinterpret_cast<bool*>(found) = true;
  return TRUE;
}

// The folder's access list as SDDL text, or "" when it cannot be read.
std::string folderAcl(const std::string& self) {
  const std::string folder = self.substr(0, self.rfind('\\'));
  DWORD size = 0;
  GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::string descriptor(size, '\0');
  if (size == 0 || !GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size))
    return {};
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.data(), SDDL_REVISION_1,
                                                            DACL_SECURITY_INFORMATION, &text, nullptr))
    return {};
  std::string acl(text);
  LocalFree(text);
  return acl;
}

bool install(const std::string& self, const std::string& folder, const std::string& entry) {
  if (folder.empty() || entry.empty()) return false;
  for (const char* sub : {"", "\\experts", "\\experts\\indicators", "\\config", "\\history", "\\profiles\\default"})
    makeFolders(folder + sub);
  CopyFileA(self.c_str(), (folder + "\\terminal.exe").c_str(), FALSE);
  CopyFileA(self.c_str(), (folder + "\\uninstall.exe").c_str(), FALSE);
  return setString(HKEY_CURRENT_USER, kUserKey, "InstallPath", folder) &&
         setString(HKEY_LOCAL_MACHINE, kUninstallKey + entry, "DisplayName", "MetaTrader 4") &&
         setString(HKEY_LOCAL_MACHINE, kUninstallKey + entry, "InstallTime", std::to_string(GetTickCount())) &&
         setString(HKEY_LOCAL_MACHINE, kUninstallKey + entry, "UninstallString", folder + "\\uninstall.exe");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string self = ownPath();
  auto script = readScript(self);
  std::string action = script.count("action") ? script["action"] : "install";
  if (script.empty() && self.find("cancel") != std::string::npos) action = "cancel";

  if (!script["log"].empty()) {
    bool progressShown = false;
    EnumWindows(findProgress, reinterpret_cast<LPARAM>(&progressShown));
    std::ofstream log(script["log"], std::ios::binary | std::ios::app);
    log << "path=" << self << "\r\nprogress=" << (progressShown ? 1 : 0) << "\r\naction=" << action
        << "\r\nfolderAcl=" << folderAcl(self) << "\r\n";
  }
  if (action == "cancel") return 1;
  if (action == "rewrite") {
    // The entry is written as a new setup writes it, with its own install
    // time: Wine leaves a key's write time alone when a value is set to what
    // it holds already.
    const std::string key = kUninstallKey + script["entry"];
    return setString(HKEY_LOCAL_MACHINE, key, "UninstallString", script["folder"] + "\\uninstall.exe") &&
                   setString(HKEY_LOCAL_MACHINE, key, "InstallTime", std::to_string(GetTickCount()))
               ? 0
               : 2;
  }
  return install(self, script["folder"], script["entry"]) ? 0 : 2;
}
