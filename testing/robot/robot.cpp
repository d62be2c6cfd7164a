#include "testing/robot/robot.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <commctrl.h>
#include <shlobj.h>

#include "testing/robot/png_writer.h"
#include "testing/support/test_support.h"

namespace robot {

namespace {

std::string windowText(HWND window) {
  char text[4096] = {};
  DWORD_PTR got = 0;
  // WM_GETTEXT is carried across processes; the time-out keeps a hung
  // program from hanging the test.
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                           &got) ||
      text[0] == '\0') {
    GetWindowTextA(window, text, sizeof text);
  }
  return text;
}

std::string withoutAccelerator(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
  return text;
}

std::string className(HWND window) {
  char name[128] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

BOOL CALLBACK collectChild(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

std::vector<HWND> children(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&found));
  return found;
}

struct WindowSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK collectTopLevel(HWND window, LPARAM param) {
  auto* s = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (IsWindowVisible(window) && (s->processId == kAnyProcess || owner == s->processId)) s->found.push_back(window);
  return TRUE;
}

struct Pixels {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

// What the screen shows inside a rectangle given in screen coordinates.
Pixels capture(const RECT& r) {
  Pixels p;
  p.width = r.right - r.left;
  p.height = r.bottom - r.top;
  if (p.width <= 0 || p.height <= 0) return p;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = p.width;
  info.bmiHeader.biHeight = -p.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, p.width, p.height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  p.rgb.resize(static_cast<std::size_t>(p.width) * p.height * 3);
  const auto* src = static_cast<const std::uint8_t*>(bits);
  for (std::size_t i = 0; i < static_cast<std::size_t>(p.width) * p.height; ++i) {
    p.rgb[i * 3 + 0] = src[i * 4 + 2];
    p.rgb[i * 3 + 1] = src[i * 4 + 1];
    p.rgb[i * 3 + 2] = src[i * 4 + 0];
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return p;
}

// A system icon drawn on a plain background, as a message box draws it.
Pixels drawReference(LPCSTR icon, COLORREF background, int size) {
  Pixels p;
  p.width = p.height = size;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HBRUSH brush = CreateSolidBrush(background);
  RECT all = {0, 0, size, size};
  FillRect(memory, &all, brush);
  DeleteObject(brush);
  DrawIconEx(memory, 0, 0, LoadIconA(nullptr, icon), 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
  GdiFlush();
  p.rgb.resize(static_cast<std::size_t>(size) * size * 3);
  const auto* src = static_cast<const std::uint8_t*>(bits);
  for (std::size_t i = 0; i < static_cast<std::size_t>(size) * size; ++i) {
    p.rgb[i * 3 + 0] = src[i * 4 + 2];
    p.rgb[i * 3 + 1] = src[i * 4 + 1];
    p.rgb[i * 3 + 2] = src[i * 4 + 0];
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return p;
}

long difference(const Pixels& a, const Pixels& b, int size) {
  long sum = 0;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      for (int c = 0; c < 3; ++c) {
        const std::size_t ia = (static_cast<std::size_t>(y) * a.width + x) * 3 + c;
        const std::size_t ib = (static_cast<std::size_t>(y) * b.width + x) * 3 + c;
        sum += std::abs(int(a.rgb[ia]) - int(b.rgb[ib]));
      }
  return sum;
}

// The icon of a message box is another process's object, so it is told apart
// by what the screen shows: the nearest of the four system icons.
UINT recogniseIcon(HWND iconControl) {
  const int size = GetSystemMetrics(SM_CXICON);
  struct Candidate {
    LPCSTR icon;
    UINT style;
  };
  static const Candidate kIcons[] = {{IDI_HAND, MB_ICONERROR},
                                     {IDI_QUESTION, MB_ICONQUESTION},
                                     {IDI_EXCLAMATION, MB_ICONWARNING},
                                     {IDI_ASTERISK, MB_ICONINFORMATION}};
  UINT recognised = 0;
  // Until the box has painted its icon, none of the four matches; while it is
  // painting, a half-drawn icon may come nearest to another one. So the icon
  // is taken once two looks in a row find the same one. On a machine that is
  // busy the box may take long to paint: the wait ends as soon as it has.
  UINT previous = 0;
  Pixels last;
  const bool settledInTime = testing_support::waitUntil(
      [&] {
        RECT r;
        GetWindowRect(iconControl, &r);
        const Pixels shown = capture(r);
        last = shown;
        if (shown.width < size || shown.height < size) return false;
        const COLORREF background = RGB(shown.rgb[0], shown.rgb[1], shown.rgb[2]);
        const long blank = static_cast<long>(size) * size * 3 * 4;  // below this: a match
        long best = LONG_MAX;
        UINT nearest = 0;
        for (const auto& c : kIcons) {
          const long d = difference(shown, drawReference(c.icon, background, size), size);
          if (d < best) {
            best = d;
            nearest = c.style;
          }
        }
        const UINT seen = best < blank ? nearest : 0;
        const bool settled = seen != 0 && seen == previous;
        previous = seen;
        if (settled) recognised = seen;
        return settled;
      },
      30000);
  if (!settledInTime) {
    // What the screen showed in the icon's place, for whoever reads the failure.
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string path =
        std::string(folder) + "robot-unrecognised-icon-" + std::to_string(GetCurrentProcessId()) + ".png";
    std::ofstream(path, std::ios::binary) << encodePng(last.width, last.height, last.rgb);
    std::fprintf(stderr, "robot: no system icon recognised in the box; what the screen showed: %s\n", path.c_str());
  }
  return recognised;
}

DWORD WINAPI runWork(LPVOID work) {
  (*static_cast<std::function<void()>*>(work))();
  return 0;
}

UINT buttonStyle(const std::vector<int>& ids) {
  auto has = [&](int id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); };
  if (has(IDYES) && has(IDNO)) return has(IDCANCEL) ? MB_YESNOCANCEL : MB_YESNO;
  if (has(IDABORT)) return MB_ABORTRETRYIGNORE;
  if (has(IDRETRY)) return MB_RETRYCANCEL;
  if (has(IDOK) && has(IDCANCEL)) return MB_OKCANCEL;
  return MB_OK;
}

}  // namespace

std::vector<HWND> topLevelWindows(DWORD processId) {
  WindowSearch search{processId, {}};
  EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

Dialog describe(HWND window) {
  Dialog d;
  d.window = window;
  GetWindowThreadProcessId(window, &d.processId);
  d.owner = GetWindow(window, GW_OWNER);
  d.caption = windowText(window);
  std::vector<int> ids;
  HWND iconControl = nullptr;
  for (HWND child : children(window)) {
    if (!IsWindowVisible(child)) continue;
    const std::string cls = className(child);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (_stricmp(cls.c_str(), "Button") == 0) {
      d.buttons.push_back(withoutAccelerator(windowText(child)));
      ids.push_back(GetDlgCtrlID(child));
    } else if (_stricmp(cls.c_str(), "Static") == 0) {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        iconControl = child;
      } else {
        std::string text = windowText(child);
        if (text.size() > d.text.size()) d.text = std::move(text);
      }
    }
  }
  d.style = buttonStyle(ids);
  if (iconControl) d.style |= recogniseIcon(iconControl);
  // A system-modal box is a topmost window.
  if (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) d.style |= MB_SYSTEMMODAL;
  return d;
}

// A dialog is shown once its controls are made and its initialisation is
// over: from then on it can be read (its icon once it has painted it).
std::optional<Dialog> waitForDialog(DWORD processId, std::string_view caption, DWORD timeoutMs) {
  HWND found = nullptr;
  const auto shown = [&] {
    for (HWND window : topLevelWindows(processId))
      if (windowText(window) == caption) found = window;
    return found != nullptr;
  };
  if (!testing_support::waitUntil(shown, timeoutMs)) return std::nullopt;
  return describe(found);
}

// Of windows that showed at once, an owner is taken before what it owns: a
// message box over the progress window is answered after the window has been
// read, which may go as soon as the box does.
std::optional<Dialog> waitForAnyDialog(DWORD processId, const std::vector<HWND>& known, DWORD timeoutMs) {
  HWND found = nullptr;
  const auto shown = [&] {
    std::vector<HWND> fresh;
    for (HWND window : topLevelWindows(processId))
      if (std::find(known.begin(), known.end(), window) == known.end()) fresh.push_back(window);
    for (HWND window : fresh) {
      const HWND owner = GetWindow(window, GW_OWNER);
      if (std::find(fresh.begin(), fresh.end(), owner) == fresh.end()) found = window;
    }
    return found != nullptr;
  };
  if (!testing_support::waitUntil(shown, timeoutMs)) return std::nullopt;
  return describe(found);
}

bool clickButton(const Dialog& dialog, std::string_view button) {
  for (HWND child : children(dialog.window)) {
    if (_stricmp(className(child).c_str(), "Button") != 0 || !IsWindowVisible(child)) continue;
    if (withoutAccelerator(windowText(child)) != button) continue;
    if (!IsWindowEnabled(child)) return false;
    // What a click sends: the dialog hears BN_CLICKED from the button.
    return PostMessageA(dialog.window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(child), BN_CLICKED),
                        reinterpret_cast<LPARAM>(child)) != FALSE;
  }
  return false;
}

std::vector<Dialog> answerUntilExit(HANDLE process, DWORD processId,
                                    const std::function<std::string(const Dialog&)>& choose, DWORD timeoutMs,
                                    std::vector<HWND> known) {
  std::vector<Dialog> seen;
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT && GetTickCount() - start < timeoutMs) {
    auto dialog = waitForAnyDialog(processId, known, 100);
    if (!dialog) continue;
    const std::string button = choose(*dialog);
    if (button == kEscape) {
      pressEscape(dialog->window);
    } else if (button == kNotYet || (!button.empty() && !clickButton(*dialog, button))) {
      // A dialog still building its controls has not got the button yet: it
      // is looked at again on the next round.
      Sleep(50);
      continue;
    }
    known.push_back(dialog->window);
    seen.push_back(std::move(*dialog));
  }
  return seen;
}

std::vector<Dialog> answerWhile(const std::function<void()>& work,
                                const std::function<std::string(const Dialog&)>& choose, DWORD timeoutMs) {
  HANDLE thread = CreateThread(nullptr, 0, runWork, const_cast<std::function<void()>*>(&work), 0, nullptr);
  if (!thread) {
    work();
    return {};
  }
  std::vector<Dialog> seen = answerUntilExit(thread, GetCurrentProcessId(), choose, timeoutMs);
  while (WaitForSingleObject(thread, 100) == WAIT_TIMEOUT) {
    for (HWND window : topLevelWindows(GetCurrentProcessId())) {
      const Dialog stuck = describe(window);
      clickButton(stuck, goOnButton(stuck));
    }
  }
  CloseHandle(thread);
  return seen;
}

bool clickControl(HWND dialog, int controlId) {
  HWND control = GetDlgItem(dialog, controlId);
  if (!control || !IsWindowVisible(control) || !IsWindowEnabled(control)) return false;
  return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(controlId, STN_CLICKED), reinterpret_cast<LPARAM>(control)) !=
         FALSE;
}

bool pressEscape(HWND dialog) {
  // The dialog's own message loop turns the key into its cancel command.
  return PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 1) != FALSE &&
         PostMessageA(dialog, WM_KEYUP, VK_ESCAPE, 0xC0000001) != FALSE;
}

bool clickCloseBox(HWND window) { return PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE; }

std::vector<std::string> listLines(HWND list) {
  std::vector<std::string> lines;
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count)) return lines;
  for (int i = 0; i < static_cast<int>(count); ++i) {
    // Wide messages: Wine hands the ANSI form of LB_GETTEXT across processes
    // as wide text, which would overrun a buffer sized for ANSI.
    DWORD_PTR length = 0;
    SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 2000, &length);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 2000,
                             &got) ||
        static_cast<LRESULT>(got) == LB_ERR || got > length)
      got = 0;
    text.resize(static_cast<std::size_t>(got));
    std::string ansi(text.size() * 2 + 1, '\0');
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), ansi.data(),
                                          static_cast<int>(ansi.size()), nullptr, nullptr);
    ansi.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    lines.push_back(std::move(ansi));
  }
  return lines;
}

std::vector<int> selectedLines(HWND list) {
  std::vector<int> selected;
  const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i)
    if (SendMessageA(list, LB_GETSEL, i, 0) > 0) selected.push_back(i);
  return selected;
}

bool selectLine(HWND list, int index, bool selected) {
  return SendMessageA(list, LB_SETSEL, selected ? TRUE : FALSE, index) != LB_ERR;
}

namespace {

// Memory inside another process, for the messages whose parameters point at
// memory and are not carried across processes (the folder browser's).
class RemoteMemory {
 public:
  RemoteMemory(DWORD processId, std::size_t size) : size_(size) {
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process_) at_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteMemory() {
    if (at_) VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;
  explicit operator bool() const { return at_ != nullptr; }
  std::uint8_t* at() const { return static_cast<std::uint8_t*>(at_); }
  bool write(std::size_t offset, const void* bytes, std::size_t size) {
    return offset + size <= size_ && WriteProcessMemory(process_, at() + offset, bytes, size, nullptr);
  }
  bool read(std::size_t offset, void* bytes, std::size_t size) const {
    return offset + size <= size_ && ReadProcessMemory(process_, at() + offset, bytes, size, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  void* at_ = nullptr;
  std::size_t size_;
};

// The text of the tree's selected item, read through memory of its process.
std::string selectedTreeText(HWND tree, DWORD processId) {
  const auto item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
  if (!item) return {};
  RemoteMemory memory(processId, sizeof(TVITEMA) + MAX_PATH);
  if (!memory) return {};
  TVITEMA query = {};
  query.mask = TVIF_TEXT;
  query.hItem = reinterpret_cast<HTREEITEM>(item);
  query.pszText = reinterpret_cast<LPSTR>(memory.at() + sizeof(TVITEMA));
  query.cchTextMax = MAX_PATH;
  const char nothing = '\0';
  if (!memory.write(0, &query, sizeof query) || !memory.write(sizeof query, &nothing, 1)) return {};
  if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(memory.at()))) return {};
  char text[MAX_PATH] = {};
  if (!memory.read(sizeof query, text, MAX_PATH - 1)) return {};
  return text;
}

}  // namespace

bool chooseFolder(const Dialog& browser, const std::string& folder, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  auto late = [&] { return GetTickCount() - start >= timeoutMs; };
  HWND tree = nullptr;
  if (!testing_support::waitUntil(
          [&] {
            tree = FindWindowExA(browser.window, nullptr, "SysTreeView32", nullptr);
            return tree && SendMessageA(tree, TVM_GETCOUNT, 0, 0) != 0;
          },
          timeoutMs))
    return false;
  RemoteMemory path(browser.processId, folder.size() + 1);
  if (!path || !path.write(0, folder.c_str(), folder.size() + 1)) return false;
  const std::string leaf = folder.substr(folder.find_last_of('\\') + 1);
  // The browser opens the tree down to the folder; OK only once it shows the
  // folder selected, as a person would wait to see it. A browser still
  // starting up may put its own first selection over ours: ask again.
  const bool selected = testing_support::waitUntil(
      [&] {
        SendMessageA(browser.window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.at()));
        return lstrcmpiA(selectedTreeText(tree, browser.processId).c_str(), leaf.c_str()) == 0;
      },
      late() ? 0 : timeoutMs - (GetTickCount() - start));
  return selected && clickButton(browser, "OK");
}

COLORREF Picture::at(int x, int y) const {
  const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
  return RGB(rgb[i], rgb[i + 1], rgb[i + 2]);
}

Picture capture(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  const Pixels p = capture(client);
  return Picture{p.width, p.height, p.rgb};
}

std::string goOnButton(const Dialog& dialog) {
  for (const char* wanted : {"Yes", "OK"})
    for (const auto& b : dialog.buttons)
      if (b == wanted) return b;
  return dialog.buttons.empty() ? std::string() : dialog.buttons.front();
}

bool saveScreenshot(HWND window, const std::string& pngPath) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const Pixels p = capture(r);
  if (p.width <= 0 || p.height <= 0) return false;
  std::ofstream out(pngPath, std::ios::binary);
  out << encodePng(p.width, p.height, p.rgb);
  return static_cast<bool>(out);
}

std::string styleText(UINT style) {
  std::string text;
  switch (style & MB_TYPEMASK) {
    case MB_OK: text = "OK"; break;
    case MB_OKCANCEL: text = "OKCancel"; break;
    case MB_ABORTRETRYIGNORE: text = "AbortRetryIgnore"; break;
    case MB_YESNOCANCEL: text = "YesNoCancel"; break;
    case MB_YESNO: text = "YesNo"; break;
    case MB_RETRYCANCEL: text = "RetryCancel"; break;
    default: text = "Buttons?"; break;
  }
  switch (style & MB_ICONMASK) {
    case MB_ICONERROR: text += "|Error"; break;
    case MB_ICONQUESTION: text += "|Question"; break;
    case MB_ICONWARNING: text += "|Warning"; break;
    case MB_ICONINFORMATION: text += "|Information"; break;
    default: break;
  }
  if (style & MB_SYSTEMMODAL) text += "|SystemModal";
  return text;
}

}  // namespace robot
