#include <atomic>

#include "channels/frame/library.h"

namespace lumarel {

namespace {
// Two racing first calls may both take a reference, which is harmless.
std::atomic<bool> libraryPinned{false};
}  // namespace

HMODULE ownModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ownModule), &module);
  return module;
}

void pinLibrary() {
  if (libraryPinned.load()) return;
  char path[260] = {};
  const DWORD got = GetModuleFileNameA(ownModule(), path, sizeof path);
  if (got > 0 && got < sizeof path) LoadLibraryA(path);
  libraryPinned.store(true);
}

}  // namespace lumarel
