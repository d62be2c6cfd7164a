#pragma once
// What every part of the library shares: its exports and their guard, the int
// forms of window handles, and keeping the library loaded.
#include <windows.h>

#include <cstdint>

#include "channels/frame/exports.h"
#include "channels/frame/guard.h"

namespace lumarel {

// Window handles are 32-bit significant on 64-bit Windows: they travel to
// MQL4 programs as ints and come back sign-extended.
inline HWND windowFromInt(int window) { return reinterpret_cast<HWND>(static_cast<std::intptr_t>(window)); }

// Keeps the library mapped for the rest of the process, so that a thread of
// the library keeps running code that stays mapped after the terminal has
// freed the library. Called at process attach and before a thread starts.
void pinLibrary();

}  // namespace lumarel
