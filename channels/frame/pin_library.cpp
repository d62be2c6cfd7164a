#include <atomic>

#include "channels/frame/library.h"

namespace lumarel {

namespace {
// Set only once the pin has taken: a failed pin is tried again by the next
// thread that needs it.
std::atomic<bool> libraryPinned{false};
}  // namespace

// The module is found by an address inside it, never by its path: a path may
// hold characters outside the system code page or pass 260 characters. The
// loader takes no new reference under the pin, so this is also safe at
// process attach, under the loader lock.
void pinLibrary() {
  if (libraryPinned.load()) return;
  HMODULE module = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCWSTR>(&pinLibrary), &module))
    libraryPinned.store(true);
}

}  // namespace lumarel
