#include "installer/install/mql4_folder.h"

#include <windows.h>
#include <shlobj.h>

#include "installer/install/install_rules.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

bool isFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring toWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string toAnsi(const std::wstring& wide) {
  if (wide.empty()) return {};
  BOOL lossy = FALSE;
  const int length =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr, &lossy);
  // A path the code page cannot spell would name another folder.
  return lossy ? std::string() : text;
}

std::string readWholeFile(const std::wstring& path) {
  terminal::UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes(4096, '\0');  // a path and a line end
  DWORD got = 0;
  if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) return {};
  bytes.resize(got);
  return bytes;
}

bool sameFolder(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// The data folder whose origin.txt names the installation folder.
std::wstring dataFolderByOrigin(const std::wstring& terminals, const std::wstring& installation) {
  WIN32_FIND_DATAW found = {};
  terminal::UniqueFind search(FindFirstFileW((terminals + L"\\*").c_str(), &found));
  if (!search) return {};
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || found.cFileName[0] == L'.') continue;
    const std::wstring folder = terminals + L"\\" + found.cFileName;
    const std::u16string origin = originFolder(readWholeFile(folder + L"\\origin.txt"));
    if (!origin.empty() && sameFolder(std::wstring(origin.begin(), origin.end()), installation)) return folder;
  } while (FindNextFileW(search.get(), &found));
  return {};
}

void makeFolders(const std::wstring& path) {
  for (std::size_t slash = path.find(L'\\', 3); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1))
    CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
  CreateDirectoryW(path.c_str(), nullptr);
}

// origin.txt as the terminal writes it: UTF-16LE with its byte-order mark.
void writeOrigin(const std::wstring& dataFolder, const std::wstring& installation) {
  terminal::UniqueFile file(CreateFileW((dataFolder + L"\\origin.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  const std::wstring text = L"\xFEFF" + installation;
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
}

}  // namespace

std::string mql4Folder(const std::string& root) {
  std::wstring installation = toWide(root);
  while (installation.size() > 3 && installation.back() == L'\\') installation.pop_back();
  if (installation.empty()) return {};
  if (isFolder(installation + L"\\MQL4")) return toAnsi(installation + L"\\MQL4");

  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) return {};
  const std::wstring terminals = std::wstring(appData) + L"\\MetaQuotes\\Terminal";
  std::wstring dataFolder = dataFolderByOrigin(terminals, installation);
  if (dataFolder.empty()) {
    std::wstring upper = installation;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    const std::string name = dataFolderName(std::u16string(upper.begin(), upper.end()));
    dataFolder = terminals + L"\\" + std::wstring(name.begin(), name.end());
    if (!isFolder(dataFolder)) {
      makeFolders(dataFolder);
      writeOrigin(dataFolder, installation);
    }
  }
  makeFolders(dataFolder + L"\\MQL4");
  return toAnsi(dataFolder + L"\\MQL4");
}

}  // namespace installer
