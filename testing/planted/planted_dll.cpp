// A DLL of a system name, dropped beside a program by an attacker: when it is
// loaded it writes "<its own path>.loaded", which a test then looks for. Its
// exports only stand in for the real DLL's names so that a program importing
// them would start; they are never meant to be called.
#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t self[MAX_PATH] = {};
  const DWORD got = GetModuleFileNameW(instance, self, MAX_PATH);
  if (got == 0 || got >= MAX_PATH) return TRUE;
  const std::wstring marker = std::wstring(self, got) + L".loaded";
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, "loaded", 6, &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}

extern "C" void* plantedStandIn() { return nullptr; }
