#pragma once
// The chart advert helper: one AdvertHelper record per chart window in a
// process-wide table, the window procedure that paints the advert over the
// chart, and the fetches that bring the advert from the advert server.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "channels/advert/advert_rules.h"

namespace lumarel {

// What the window thread reads while a fetch may be replacing it. A fetch
// changes it only under `view` held exclusively, and never while talking to
// the server, so painting and hit-testing wait at most for that short store.
struct AdvertView {
  AdvertPlacement placement;
  int imageWidth = 0;
  int imageHeight = 0;
  HBITMAP image = nullptr;  // owned by the record
  std::string clickUrl;
  std::string clickData;
};

struct AdvertHelper {
  HWND chartWindow = nullptr;
  std::string requestUrl;  // up to and including "&mac"
  std::string data1;
  int data2 = 0;
  int refreshMinutes = 10;
  std::atomic<std::int32_t> lastInvalidate{0};
  std::atomic<std::int32_t> nextFetchDue{0};
  std::atomic<bool> fetchUnderWay{false};
  // Held by a fetch for its whole run: fetches of one record go in sequence.
  CRITICAL_SECTION lock;

  SRWLOCK viewLock = SRWLOCK_INIT;
  AdvertView view;

  // The table holds one reference while the record is attached, a fetch
  // thread one for its run, the window procedure one for each message. The
  // last to let go frees the record, so nobody waits for a running fetch and
  // nobody reads a freed record.
  std::atomic<long> references{1};
  std::atomic<bool> removed{false};

  AdvertHelper();
  ~AdvertHelper();
  AdvertHelper(const AdvertHelper&) = delete;
  AdvertHelper& operator=(const AdvertHelper&) = delete;

  // Records live on pages of their own in builds that check their lifetime.
  static void* operator new(std::size_t size);
  static void operator delete(void* memory, std::size_t size);
};

inline constexpr int kHelperSlots = 1000;

#ifdef LUMAREL_CHECKED_RECORDS
// Records allocated and not yet freed.
long checkedLiveHelpers();
#endif

void initialiseAdvertHelpers();
void deleteAdvertHelpers();  // process detach

// The slot holding the record of a non-null window, or -1. The caller holds
// helperTableLock or the slot guard.
int findHelper(HWND window);

// What CreateHelper2 does for a window: 1 attached, already attached or kept
// off; 0 when no helper could be attached.
int createHelper(HWND window, int marginX, int marginY, int corner, int refreshMinutes, const char* data1, int data2);

// Takes the window's record out of the table and puts its previous window
// procedure back when ours is the installed one; below another subclass ours
// stays as a pass-through. 1 when the window carried our subclass.
int removeHelper(HWND window);

// The window's record with one more reference for the caller, or null.
AdvertHelper* acquireHelper(HWND window);
void addReference(AdvertHelper* helper);
void releaseHelper(AdvertHelper* helper);

// Seconds since 1970 UTC, low 32 bits, compared as signed numbers.
std::int32_t nowSeconds();

// Starts a fetch thread when one is due and none is under way.
void startFetchIfDue(AdvertHelper* helper);
DWORD WINAPI fetchAdvert(LPVOID helper);

LRESULT CALLBACK advertWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The advert server's host, a build setting.
const char* advertServerHost();

inline constexpr char kOldWndProcProperty[] = "OldWndProc";
inline constexpr char kBlockAdvertProperty[] = "BlockAdvert";
// The previous procedure of a window whose helper was removed while another
// subclass sat above ours: ours stays in the chain and only forwards to it.
inline constexpr char kPassThroughProperty[] = "AdvertPassThrough";

}  // namespace lumarel
