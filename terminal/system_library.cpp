#include "terminal/system_library.h"

#include <string>

namespace terminal {

void restrictDllSearchToSystemFolder() {
  using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = procAddress<SetDefaultDirectories>(kernel, "SetDefaultDllDirectories");
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
}

HMODULE loadSystemLibrary(const wchar_t* name) {
  if (HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  // Windows without the search flags refuses them as an invalid parameter:
  // there the full path in the system folder serves.
  if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  wchar_t folder[MAX_PATH] = {};
  const UINT got = GetSystemDirectoryW(folder, MAX_PATH);
  if (got == 0 || got >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder) + L'\\' + name;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace terminal
