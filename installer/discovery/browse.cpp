#include <windows.h>
#include <shlobj.h>

#include "installer/config/prompts.h"
#include "installer/discovery/discovery.h"

namespace installer {

std::string browseForCopy(const std::string& iniPath, HWND dialog) {
  BROWSEINFOA browse = {};
  browse.hwndOwner = nullptr;
  browse.lpszTitle = "Choose the MT4 folder (containing terminal.exe)";
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&browse);
  if (!item) return {};
  char path[MAX_PATH] = {};
  const bool converted = SHGetPathFromIDListA(item, path) != FALSE;
  CoTaskMemFree(item);
  if (!converted || !isCopyFolder(iniPath, path)) {
    showPrompt(iniPath, dialog, prompts::NotMT4, MB_ICONWARNING);
    return {};
  }
  return path;
}

}  // namespace installer
