#pragma once
// Loading DLLs from the system folder only. The installer runs elevated from
// wherever it was downloaded to, so a DLL of the same name dropped beside it
// (or in the current folder) must never be the one that is loaded.
#include <windows.h>

namespace terminal {

// Makes the system folder the only place later LoadLibrary calls look in.
// Looked up at run time: Windows before the search-path update lacks it, and
// there the current folder is at least taken out of the search.
void restrictDllSearchToSystemFolder();

// The DLL of that name from the system folder, or null (the last error says why).
HMODULE loadSystemLibrary(const wchar_t* name);

}  // namespace terminal
