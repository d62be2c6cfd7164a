#pragma once
// The library loaded into the test's own process, for tests that call one
// export from several threads at once (the test terminal calls from one).
#include <windows.h>

#include <string>

#include "testing/terminal/test_terminal.h"
#include "terminal/system_library.h"

namespace test_terminal {

class LibraryInProcess {
 public:
  LibraryInProcess() : module_(LoadLibraryA(lumarelDll().c_str())) {}
  ~LibraryInProcess() {
    if (module_) FreeLibrary(module_);
  }
  LibraryInProcess(const LibraryInProcess&) = delete;
  LibraryInProcess& operator=(const LibraryInProcess&) = delete;
  explicit operator bool() const { return module_ != nullptr; }

  // An export as the type the caller names, e.g. get<int(__stdcall*)(int)>("X").
  template <typename Function>
  Function get(const char* name) const {
    return terminal::procAddress<Function>(module_, name);
  }

 private:
  HMODULE module_;
};

}  // namespace test_terminal
