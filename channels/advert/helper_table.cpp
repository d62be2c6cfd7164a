// The advert table and the two exports that attach a helper to a chart window
// and take it away again.
#include <cstdlib>
#include <memory>
#include <new>

#include "channels/advert/advert_helper.h"
#include "channels/frame/library.h"
#include "terminal/folder_hash.h"

namespace lumarel {

namespace {

AdvertHelper* helperTable[kHelperSlots];
// Guards every change of helperTable; held while a record is created and its
// window subclassed, never by the window procedure.
CRITICAL_SECTION helperTableLock;
std::atomic<bool> helpersInitialised{false};
// The window procedure finds a record and takes its reference under this
// guard, shared; a slot changes under it held exclusively, for one store.
// So a record cannot be freed between the lookup and the reference.
SRWLOCK slotGuard = SRWLOCK_INIT;

void setSlot(int slot, AdvertHelper* helper) {
  AcquireSRWLockExclusive(&slotGuard);
  helperTable[slot] = helper;
  ReleaseSRWLockExclusive(&slotGuard);
}

// The terminal's own program folder with its trailing backslash, or "" when
// the path has no backslash.
std::string terminalFolder() {
  char path[260] = {};
  const DWORD got = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, got < sizeof path ? got : sizeof path - 1);
  const auto slash = folder.rfind('\\');
  if (slash == std::string::npos) return {};
  folder.resize(slash + 1);
  return folder;
}

// The installer writes LastScanHash into a copy that is to show no advert.
bool terminalSwitchedOff() {
  const std::string folder = terminalFolder();
  if (folder.empty()) return true;
  const UINT marker = terminal::lastScanHashMarker(folder);
  const UINT value = GetPrivateProfileIntA("Settings", "LastScanHash", 0, (folder + "config\\terminal.ini").c_str());
  return value == marker;
}

bool ownWindow(HWND window) {
  DWORD process = 0;
  return IsWindow(window) && GetWindowThreadProcessId(window, &process) && process == GetCurrentProcessId();
}

}  // namespace

AdvertHelper::AdvertHelper() { InitializeCriticalSection(&lock); }

AdvertHelper::~AdvertHelper() {
  if (view.image) DeleteObject(view.image);
  DeleteCriticalSection(&lock);
}

#ifdef LUMAREL_CHECKED_RECORDS
// Each record on pages of its own; a freed record's pages stay reserved and
// inaccessible, so any later read of it faults at once instead of reading
// whatever the heap put there.
namespace {
std::atomic<long> liveRecords{0};
}
long checkedLiveHelpers() { return liveRecords.load(); }

void* AdvertHelper::operator new(std::size_t size) {
  void* memory = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!memory) throw std::bad_alloc();
  liveRecords.fetch_add(1);
  return memory;
}
void AdvertHelper::operator delete(void* memory, std::size_t size) {
  DWORD previous = 0;
  if (!memory) return;
  // A second free finds the pages inaccessible already and fails loudly.
  if (!VirtualProtect(memory, size, PAGE_NOACCESS, &previous) || previous != PAGE_READWRITE) std::abort();
  liveRecords.fetch_sub(1);
}
#else
void* AdvertHelper::operator new(std::size_t size) { return ::operator new(size); }
void AdvertHelper::operator delete(void* memory, std::size_t) { ::operator delete(memory); }
#endif

void initialiseAdvertHelpers() {
  if (helpersInitialised.exchange(true)) return;
  for (auto& slot : helperTable) slot = nullptr;
  InitializeCriticalSection(&helperTableLock);
}

void deleteAdvertHelpers() {
  // Records still attached when the process ends are not disposed.
  if (helpersInitialised.exchange(false)) DeleteCriticalSection(&helperTableLock);
}

int findHelper(HWND window) {
  for (int slot = 0; slot < kHelperSlots; ++slot)
    if (helperTable[slot] && helperTable[slot]->chartWindow == window) return slot;
  return -1;
}

AdvertHelper* acquireHelper(HWND window) {
  if (!window) return nullptr;
  AcquireSRWLockShared(&slotGuard);
  const int slot = findHelper(window);
  AdvertHelper* helper = slot >= 0 ? helperTable[slot] : nullptr;
  if (helper) addReference(helper);
  ReleaseSRWLockShared(&slotGuard);
  return helper;
}

void addReference(AdvertHelper* helper) { helper->references.fetch_add(1); }

void releaseHelper(AdvertHelper* helper) {
  if (helper && helper->references.fetch_sub(1) == 1) delete helper;
}

std::int32_t nowSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const std::uint64_t seconds = ticks / 10000000u - 11644473600u;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds));
}

const char* advertServerHost() { return LUMAREL_ADVERT_HOST; }

int createHelper(HWND chart, int marginX, int marginY, int corner, int refreshMinutes, const char* data1, int data2) {
  if (chart && GetPropA(chart, kBlockAdvertProperty)) return 1;
  if (terminalSwitchedOff()) return 1;
  initialiseAdvertHelpers();

  EnterCriticalSection(&helperTableLock);
  struct Leave {
    ~Leave() { LeaveCriticalSection(&helperTableLock); }
  } leave;
  if (!chart || findHelper(chart) >= 0) return 1;
  // Only a window of this process can be subclassed.
  if (!ownWindow(chart)) return 0;
  int slot = 0;
  while (slot < kHelperSlots && helperTable[slot]) ++slot;
  if (slot == kHelperSlots) return 0;

  // An allocation failure leaves through the export's guard, the lock
  // released and the new record freed on the way.
  std::unique_ptr<AdvertHelper> record(new AdvertHelper());
  AdvertHelper* helper = record.get();
  helper->chartWindow = chart;
  helper->view.placement = {corner, marginX, marginY};
  helper->refreshMinutes = refreshMinutesFrom(refreshMinutes);
  helper->data1 = data1 ? data1 : "";
  helper->data2 = data2;
  helper->requestUrl = advertRequestUrl(advertServerHost());

  // The previous procedure is kept before the window is subclassed: without
  // the property it could never be put back.
  bool subclass = false;
  if (!GetPropA(chart, kOldWndProcProperty)) {
    const LONG_PTR current = GetWindowLongPtrA(chart, GWLP_WNDPROC);
    if (HANDLE saved = GetPropA(chart, kPassThroughProperty)) {
      // Ours is still in the window's chain, left there by an earlier
      // removal: it serves again, without a second subclass.
      if (!SetPropA(chart, kOldWndProcProperty, saved)) return 0;
      RemovePropA(chart, kPassThroughProperty);
    } else {
      // Our own procedure stored as the previous one would call itself for
      // ever.
      if (!current || current == reinterpret_cast<LONG_PTR>(advertWindowProc)) return 0;
      if (!SetPropA(chart, kOldWndProcProperty, reinterpret_cast<HANDLE>(current))) return 0;
      subclass = true;
    }
  }
  setSlot(slot, record.release());
  startFetchIfDue(helper);
  if (subclass) SetWindowLongPtrA(chart, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(advertWindowProc));
  return 1;
}

int removeHelper(HWND chart) {
  if (!chart) return 0;
  initialiseAdvertHelpers();
  AdvertHelper* removed = nullptr;
  EnterCriticalSection(&helperTableLock);
  if (const int slot = findHelper(chart); slot >= 0) {
    removed = helperTable[slot];
    setSlot(slot, nullptr);
  }
  LeaveCriticalSection(&helperTableLock);
  if (removed) {
    // A running fetch keeps its own reference and frees the record when it
    // ends; a window message under way does the same.
    removed->removed.store(true);
    releaseHelper(removed);
  }

  const LONG_PTR ours = reinterpret_cast<LONG_PTR>(advertWindowProc);
  const bool installed = GetWindowLongPtrA(chart, GWLP_WNDPROC) == ours;
  const auto previous = reinterpret_cast<LONG_PTR>(GetPropA(chart, kOldWndProcProperty));
  if (!previous) {
    // A pass-through left below another subclass that has since gone: ours
    // is on top again and can leave the chain now.
    const auto passThrough = reinterpret_cast<LONG_PTR>(GetPropA(chart, kPassThroughProperty));
    if (!passThrough || !installed) return 0;
    SetWindowLongPtrA(chart, GWLP_WNDPROC, passThrough);
    RemovePropA(chart, kPassThroughProperty);
    return 1;
  }
  if (installed) {
    SetWindowLongPtrA(chart, GWLP_WNDPROC, previous);
    RemovePropA(chart, kOldWndProcProperty);
    return 1;
  }
  // Another subclass came after ours and calls ours as its previous
  // procedure: putting ours' previous back would drop it, and its own
  // removal would later put ours back with nothing to forward to. Ours stays
  // in the chain and only forwards. The pass-through property is set first,
  // so that the procedure always finds where to forward.
  SetPropA(chart, kPassThroughProperty, reinterpret_cast<HANDLE>(previous));
  RemovePropA(chart, kOldWndProcProperty);
  return 1;
}

}  // namespace lumarel

using namespace lumarel;

LUMAREL_EXPORT int LUMAREL_API CreateHelper2(int, int window, int marginX, int marginY, int corner, int refreshMinutes,
                                             const char* data1, int data2) noexcept {
  return guarded(
      0, [&] { return createHelper(windowFromInt(window), marginX, marginY, corner, refreshMinutes, data1, data2); });
}

LUMAREL_EXPORT int LUMAREL_API RemoveHelper(int window) noexcept {
  return guarded(0, [&] { return removeHelper(windowFromInt(window)); });
}
