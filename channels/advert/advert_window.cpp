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
  HWND window;
};

DWORD WINAPI clickThread(LPVOID parameter) {
  std::unique_ptr<ClickJob> job(static_cast<ClickJob*>(parameter));
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  // Checked again here: only a web address ever reaches the shell.
  if (isClickableAddress(job->clickUrl)) ShellExecuteA(nullptr, "open", job->clickUrl.c_str(), "", "", SW_SHOWNORMAL);
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

void openClickUrl(AdvertHelper* helper, HWND window) {
  auto job = std::make_unique<ClickJob>();
  {
    SharedView shared(helper);
    job->clickUrl = shared.view.clickUrl;
    job->clickData = shared.view.clickData;
  }
  job->window = window;
  // Never on the chart's thread: a slow shell or a box it shows would freeze
  // the terminal.
  if (terminal::startDetachedThread(clickThread, job.get())) static_cast<void>(job.release());  // the thread frees it
}

LRESULT paintWithAdvert(AdvertHelper* helper, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                        WNDPROC previous) {
  WINDOWINFO info = {};
  info.cbSize = sizeof info;
  GetWindowInfo(window, &info);
  const int dx = info.rcClient.left - info.rcWindow.left;
  const int dy = info.rcClient.top - info.rcWindow.top;
  const SIZE client = {info.rcClient.right - info.rcClient.left, info.rcClient.bottom - info.rcClient.top};
  AdvertRect cut;
  {
    SharedView shared(helper);
    cut = currentRect(shared.view, client);
  }

  terminal::UniqueGdi whole(
      CreateRectRgn(0, 0, info.rcWindow.right - info.rcWindow.left, info.rcWindow.bottom - info.rcWindow.top));
  terminal::UniqueGdi withoutAdvert(CreateRectRgn(cut.left + dx, cut.top + dy, cut.right + dx, cut.bottom + dy));
  bool regionSet = false;
  if (whole && withoutAdvert) {
    const HRGN region = static_cast<HRGN>(withoutAdvert.get());
    CombineRgn(region, static_cast<HRGN>(whole.get()), region, RGN_XOR);
    regionSet = SetWindowRgn(window, region, FALSE) != 0;
    if (regionSet) withoutAdvert.release();  // the window owns the region from here on
  }

  const LRESULT result = CallWindowProcA(previous, window, message, wParam, lParam);
  if (regionSet) SetWindowRgn(window, nullptr, FALSE);

  bool moved = false;
  if (HDC screen = GetDC(window)) {
    {
      SharedView shared(helper);
      const AdvertView& view = shared.view;
      if (view.image) {
        const AdvertRect at = currentRect(view, client);
        // A fetch stored a new placement while the chart painted: this paint
        // draws it where it now belongs and the next one cuts it out there.
        moved = !(at == cut);
        HDC memory = CreateCompatibleDC(screen);
        if (memory) {
          HGDIOBJ before = SelectObject(memory, view.image);
          BitBlt(screen, at.left, at.top, view.imageWidth, view.imageHeight, memory, 0, 0, SRCCOPY);
          SelectObject(memory, before);
          DeleteDC(memory);
        }
      }
    }
    ReleaseDC(window, screen);
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
      if (clickableAt(helper.get(), window, lParam)) openClickUrl(helper.get(), window);
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
