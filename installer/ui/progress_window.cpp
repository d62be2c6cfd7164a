#include "installer/ui/progress_window.h"

#include <atomic>
#include <ctime>

#include "installer/config/install_ini.h"
#include "installer/config/prompts.h"
#include "installer/ui/activity_code.h"
#include "terminal/win_handles.h"

namespace installer {

// Shared by the main thread and the progress thread, one window at a time.
std::atomic<HWND> progressWindow{nullptr};
std::atomic<bool> progressCloseRequested{false};

namespace {

constexpr int kTextControl = 213;
constexpr int kCodeControl = 214;
constexpr UINT_PTR kTimer = 1;
constexpr const char* kShowProgressBar = "ShowProgressBar";

INT_PTR CALLBACK progressProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* request = reinterpret_cast<const InstallRequest*>(lParam);
      SetWindowTextA(window, readText(request->iniPath, keys::Caption).c_str());
      SetDlgItemTextA(window, kTextControl, request->progressText);
      if (request->showActivityCode) SetPropA(window, kShowProgressBar, reinterpret_cast<HANDLE>(1));
      SetTimer(window, kTimer, 10, nullptr);
      return TRUE;
    }
    case WM_TIMER:
      // Read on every tick: a close asked for before this window existed
      // still takes effect.
      if (progressCloseRequested.load()) {
        PostMessageA(window, WM_CLOSE, 0, 0);
      } else if (GetPropA(window, kShowProgressBar)) {
        SYSTEMTIME local;
        GetLocalTime(&local);
        const auto code =
            activityCode(GetTickCount(), local.wMilliseconds, static_cast<std::uint32_t>(std::time(nullptr)));
        SetDlgItemTextA(window, kCodeControl, code.c_str());
      }
      return TRUE;
    case WM_CLOSE: DestroyWindow(window); return TRUE;
    case WM_DESTROY:
      KillTimer(window, kTimer);
      RemovePropA(window, kShowProgressBar);
      return FALSE;
    default: return FALSE;
  }
}

constexpr DWORD kProgressGoneWaitMs = 5000;

// The thread of the latest progress window; only the main thread uses it.
terminal::UniqueHandle latestProgressThread;

struct ProgressStart {
  InstallRequest* request;
  HANDLE created;   // set once the window exists, or could not be made
  DWORD error = 0;  // why it could not be made; written before `created` is set
};

DWORD WINAPI progressThread(LPVOID param) {
  // The starter's record lives until `created` is set, and no longer.
  auto* start = static_cast<ProgressStart*>(param);
  HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), "ProgressDialog", nullptr, progressProc,
                                   reinterpret_cast<LPARAM>(start->request));
  if (window)
    progressWindow.store(window);
  else
    start->error = GetLastError() ? GetLastError() : ERROR_CANNOT_MAKE;
  SetEvent(start->created);
  if (!window) return 0;
  ShowWindow(window, SW_SHOWNORMAL);
  MSG message;
  while (GetMessageA(&message, window, 0, 0) > 0 && IsWindow(window) && message.message != WM_CLOSE)
    DispatchMessageA(&message);
  if (IsWindow(window)) DestroyWindow(window);
  // A later progress window may already have taken the variable over: only
  // this window's own handle is cleared.
  HWND own = window;
  progressWindow.compare_exchange_strong(own, nullptr);
  return 0;
}

}  // namespace

void startProgressWindow(InstallRequest& request) {
  progressCloseRequested.store(false);
  // Waits (briefly) for the window to exist, so that the messages of the
  // installation that follows are owned by it and shown in front of it.
  const terminal::UniqueHandle created(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!created) return;
  ProgressStart start{&request, created.get()};
  terminal::UniqueHandle thread(CreateThread(nullptr, 0, progressThread, &start, 0, nullptr));
  if (!thread) return;
  HANDLE both[] = {created.get(), thread.get()};
  const DWORD first = WaitForMultipleObjects(2, both, FALSE, INFINITE);
  latestProgressThread = std::move(thread);
  if (first == WAIT_OBJECT_0 && start.error != 0) reportDialogFailure(start.error);
}

bool closeProgressWindow() {
  requestProgressClose();
  return !latestProgressThread || WaitForSingleObject(latestProgressThread.get(), kProgressGoneWaitMs) == WAIT_OBJECT_0;
}

void requestProgressClose() {
  progressCloseRequested.store(true);
  if (HWND window = progressWindow.load()) PostMessageA(window, WM_CLOSE, 0, 0);
}

}  // namespace installer
