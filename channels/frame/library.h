#pragma once
// What every part of the library shares: the export convention, the int forms
// of window and thread handles, and keeping the library loaded.
#include <windows.h>

#include <cstdint>

// Exports take and return 32-bit ints and 8-bit text pointers, stdcall, under
// plain names (the module-definition file and --kill-at drop the @N).
#define LUMAREL_EXPORT extern "C"
#define LUMAREL_API __stdcall

namespace lumarel {

// Window and kernel handles are 32-bit significant on 64-bit Windows: they
// travel to MQL4 programs as ints and come back sign-extended.
inline HWND windowFromInt(int window) {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(window));
}
inline int intFromHandle(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}
inline HANDLE handleFromInt(int handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle));
}

// Keeps the library mapped for the rest of the process, so that a thread of
// the library keeps running code that stays mapped after the terminal has
// freed the library. Called at process attach and before a thread starts.
void pinLibrary();

}  // namespace lumarel
