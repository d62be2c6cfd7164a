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

// A looked-up function as the type it has. FARPROC stands for every function
// type and matches none, so this is the one place its cast is allowed.
template <typename F>
F asFunction(FARPROC function) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
  return reinterpret_cast<F>(function);
#pragma GCC diagnostic pop
}

// A function of a loaded module, or null when the module or the name is missing.
template <typename F>
F procAddress(HMODULE module, const char* name) {
  return module ? asFunction<F>(GetProcAddress(module, name)) : nullptr;
}

}  // namespace terminal
