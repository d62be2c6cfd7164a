// The window procedure installed on a chart window: the chart paints as
// before with the advert's rectangle cut out, the advert is drawn over it,
// and a click on it opens its target.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <new>
#include <string>

#include "channels/advert/advert_helper.h"
#include "terminal/win_handles.h"

namespace lumarel {

namespace {

// One reference to the window's record for the length of one message.
class HelperReference {
 public:
  explicit HelperReference(AdvertHelper* helper) : helper_(helper) {}
  ~HelperReference() { releaseHelper(helper_); }
  HelperReference(const HelperReference&) = delete;
  HelperReference& operator=(const HelperReference&) = delete;
  AdvertHelper* operator->() const { return helper_; }
  AdvertHelper* get() const { return helper_; }
  explicit operator bool() const { return helper_ != nullptr; }

 private:
  AdvertHelper* helper_;
};

struct SharedView {
  explicit SharedView(AdvertHelper* helper) : lock(&helper->viewLock), view(helper->view) {
    AcquireSRWLockShared(lock);
  }
  ~SharedView() { ReleaseSRWLockShared(lock); }
  SRWLOCK* lock;
  const AdvertView& view;
};

SIZE clientSize(HWND window) {
  RECT client = {};
  GetClientRect(window, &client);
  return {client.right - client.left, client.bottom - client.top};
}

AdvertRect currentRect(const AdvertView& view, SIZE client) {
  return advertRect(view.placement, view.imageWidth, view.imageHeight, client.cx, client.cy);
}

bool hasImage(AdvertHelper* helper) {
  SharedView shared(helper);
  return shared.view.image != nullptr;
}

// The rectangle a mouse position must hit, or none when not clickable.
bool clickableAt(AdvertHelper* helper, HWND window, LPARAM position) {
  const SIZE client = clientSize(window);
  SharedView shared(helper);
  const AdvertView& view = shared.view;
  if (!isClickableAddress(view.clickUrl) || !view.image) return false;
  return liesOnAdvert(currentRect(view, client), static_cast<std::uint32_t>(position));
}

struct ClickJob {
  std::string clickUrl;
  std::string clickData;
};

DWORD WINAPI clickThread(LPVOID parameter) {
  std::unique_ptr<ClickJob> job(static_cast<ClickJob*>(parameter));
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  // Checked again here: only a web address ever reaches the shell.
  if (isClickableAddress(job->clickUrl)) ShellExecuteA(nullptr, "open", job->clickUrl.c_str(), "", "", SW_SHOWNORMAL);
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

void openClickUrl(AdvertHelper* helper) {
  auto job = std::make_unique<ClickJob>();
  {
    SharedView shared(helper);
    job->clickUrl = shared.view.clickUrl;
    job->clickData = shared.view.clickData;
  }
  // Never on the chart's thread: a slow shell or a box it shows would freeze
  // the terminal.
  if (terminal::startDetachedThread(clickThread, job.get())) static_cast<void>(job.release());  // the thread frees it
}

void drawAdvert(const AdvertView& view, HWND window, const AdvertRect& at) {
  HDC screen = GetDC(window);
  if (!screen) return;
  if (HDC memory = CreateCompatibleDC(screen)) {
    HGDIOBJ before = SelectObject(memory, view.image);
    BitBlt(screen, at.left, at.top, view.imageWidth, view.imageHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, before);
    DeleteDC(memory);
  }
  ReleaseDC(window, screen);
}

// The chart paints everything but the advert's rectangle, then the advert is
// drawn over it. The rectangle is taken out of the update region, so the
// chart's BeginPaint clips it away: no window region is set (each change of
// one is a frame change through the whole subclass chain and, under Wine, a
// server round trip and an X shape update). A paint whose update region misses
// the advert is the chart's alone.
LRESULT paintWithAdvert(AdvertHelper* helper, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                        WNDPROC previous) {
  const SIZE client = clientSize(window);
  AdvertRect cut;
  {
    SharedView shared(helper);
    cut = currentRect(shared.view, client);
  }
  const RECT advert = {cut.left, cut.top, cut.right, cut.bottom};
  RECT update = {};
  RECT overlap = {};
  if (!GetUpdateRect(window, &update, FALSE) || !IntersectRect(&overlap, &update, &advert))
    return CallWindowProcA(previous, window, message, wParam, lParam);

  ValidateRect(window, &advert);
  const LRESULT result = CallWindowProcA(previous, window, message, wParam, lParam);
  bool moved = false;
  {
    SharedView shared(helper);
    const AdvertView& view = shared.view;
    if (view.image) {
      const AdvertRect at = currentRect(view, client);
      // A fetch stored a new placement while the chart painted: this paint
      // draws it where it now belongs and the next one cuts it out there.
      moved = !(at == cut);
      drawAdvert(view, window, at);
    }
  }
  if (moved) InvalidateRect(window, nullptr, FALSE);
  return result;
}

LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam, WNDPROC previous) {
  HelperReference helper(acquireHelper(window));
  if (!helper) return CallWindowProcA(previous, window, message, wParam, lParam);
  switch (message) {
    case WM_PAINT:
      if (!hasImage(helper.get())) break;
      startFetchIfDue(helper.get());
      return paintWithAdvert(helper.get(), window, message, wParam, lParam, previous);
    case WM_MOUSEMOVE:
      if (!clickableAt(helper.get(), window, lParam)) break;
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
      if (clickableAt(helper.get(), window, lParam)) openClickUrl(helper.get());
      break;
  }
  return CallWindowProcA(previous, window, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK advertWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto previous = reinterpret_cast<WNDPROC>(GetPropA(window, kOldWndProcProperty));
  if (!previous || previous == advertWindowProc) {
    // Removed while another subclass sat above ours: only forward.
    const auto passThrough = reinterpret_cast<WNDPROC>(GetPropA(window, kPassThroughProperty));
    if (passThrough && passThrough != advertWindowProc)
      return CallWindowProcA(passThrough, window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
  }
  switch (message) {
    case WM_PAINT:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP: try { return handle(window, message, wParam, lParam, previous);
      } catch (const std::bad_alloc&) {
        return DefWindowProcA(window, message, wParam, lParam);
      }
    case WM_NCDESTROY:
      // A chart closed with its advert: the slot is freed and the window
      // handle, which the system may give to a new window, leaves the table.
      removeHelper(window);
      return CallWindowProcA(previous, window, message, wParam, lParam);
    default: return CallWindowProcA(previous, window, message, wParam, lParam);
  }
}

}  // namespace lumarel
