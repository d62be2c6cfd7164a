// terminal.exe [--title TEXT] [--charts N] [--class NAME]
//
// A stand-in for the MetaTrader 4 terminal: a main window whose class name
// contains "MetaTrader" and whose title is TEXT, N chart child windows that
// record every tick message, Lumarel.dll loaded by name, and a control pipe
// (protocol.h) through which tests call the library's exports.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "testing/terminal/protocol.h"

#include "terminal/tick_message.h"
#include "testing/support/clock.h"
#include "terminal/system_library.h"
namespace {

struct Tick {
  WPARAM wParam;
  LPARAM lParam;
  long long microseconds;  // of the performance counter, the same in every process
};

HWND mainWindow = nullptr;
std::vector<HWND> charts;
UINT tickMessage = 0;
std::mutex ticksLock;
std::map<HWND, std::vector<Tick>> ticks;
std::vector<HMODULE> libraryReferences;
std::map<std::string, HANDLE> heldFiles;
// Charts whose program takes its messages whenever it is woken (lParam 1),
// as a receiving MQL4 program does, and what each take returned.
struct Drain {
  int handle;
  std::string takeExport;  // LM_GetMessages or LM_QueryInternetMessages
};
std::map<HWND, Drain> drainHandles;
std::map<HWND, std::vector<std::string>> drained;
using GetMessagesFn = const char*(__stdcall*)(int);

// What reached a chart's own window procedure.
struct ChartEvents {
  long paints = 0, mouseMoves = 0, leftUps = 0, rightUps = 0;
};
std::mutex eventsLock;
std::map<HWND, ChartEvents> events;

// Work the pipe thread hands to the window thread, which owns the windows.
constexpr UINT kRunOnWindowThread = WM_APP + 7;
using WindowJob = std::function<std::string()>;

std::string onWindowThread(const WindowJob& job) {
  std::string answer;
  auto run = [&] { answer = job(); };
  std::function<void()> call = run;
  SendMessageA(mainWindow, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&call));
  return answer;
}

void paintChart(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  HBRUSH field = CreateSolidBrush(test_terminal::kChartField);
  HBRUSH grid = CreateSolidBrush(test_terminal::kChartGrid);
  const RECT& area = paint.rcPaint;
  FillRect(dc, &area, field);
  for (int x = area.left - area.left % 40; x < area.right; x += 40) {
    const RECT line = {x, area.top, x + 1, area.bottom};
    FillRect(dc, &line, grid);
  }
  for (int y = area.top - area.top % 40; y < area.bottom; y += 40) {
    const RECT line = {area.left, y, area.right, y + 1};
    FillRect(dc, &line, grid);
  }
  DeleteObject(field);
  DeleteObject(grid);
  EndPaint(window, &paint);
}

using testing_support::nowMicroseconds;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == tickMessage && tickMessage != 0) {
    std::lock_guard<std::mutex> lock(ticksLock);
    ticks[window].push_back({wParam, lParam, nowMicroseconds()});
    auto drain = drainHandles.find(window);
    if (drain != drainHandles.end() && lParam == 1 && !libraryReferences.empty()) {
      auto take = terminal::procAddress<GetMessagesFn>(libraryReferences.front(), drain->second.takeExport.c_str());
      const char* text = take ? take(drain->second.handle) : nullptr;
      if (text && *text) drained[window].push_back(text);
    }
    return 0;
  }
  if (message == kRunOnWindowThread && window == mainWindow) {
    (*reinterpret_cast<std::function<void()>*>(lParam))();
    return 0;
  }
  if (window != mainWindow) {
    switch (message) {
      case WM_PAINT: {
        paintChart(window);
        std::lock_guard<std::mutex> lock(eventsLock);
        ++events[window].paints;
        return 0;
      }
      case WM_ERASEBKGND: return 1;  // the paint covers everything
      case WM_MOUSEMOVE:
      case WM_LBUTTONUP:
      case WM_RBUTTONUP: {
        std::lock_guard<std::mutex> lock(eventsLock);
        ChartEvents& e = events[window];
        ++(message == WM_MOUSEMOVE ? e.mouseMoves : message == WM_LBUTTONUP ? e.leftUps : e.rightUps);
        return 0;
      }
    }
  }
  if (message == WM_DESTROY && window == mainWindow) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND windowOf(int index) {
  if (index == -1) return mainWindow;
  if (index < 0 || index >= static_cast<int>(charts.size())) return nullptr;
  return charts[index];
}

std::string intAnswer(long long v) { return "ok i:" + std::to_string(v); }

// The client area as the window's own surface holds it, read on its thread.
std::string pixelsOf(HWND window) {
  RECT client = {};
  GetClientRect(window, &client);
  const int width = client.right, height = client.bottom;
  if (width <= 0 || height <= 0) return "err empty";
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(window);
  HBITMAP capture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ before = SelectObject(memory, capture);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  std::string rgb;
  rgb.reserve(static_cast<std::size_t>(width) * height * 3);
  const auto* pixel = static_cast<const unsigned char*>(bits);
  for (int i = 0; i < width * height; ++i, pixel += 4) {
    rgb += static_cast<char>(pixel[2]);
    rgb += static_cast<char>(pixel[1]);
    rgb += static_cast<char>(pixel[0]);
  }
  SelectObject(memory, before);
  DeleteDC(memory);
  DeleteObject(capture);
  ReleaseDC(window, screen);
  return "ok " + std::to_string(width) + " " + std::to_string(height) + " " + test_terminal::toHex(rgb);
}

// Calls an export with up to eight arguments of pointer width: ints and text
// pointers both fit, and each function takes exactly the ones it declares.
std::string callExport(const std::string& name, const std::vector<std::string>& args) {
  if (libraryReferences.empty()) return "err library not loaded";
  FARPROC proc = GetProcAddress(libraryReferences.front(), name.c_str());
  if (!proc) return "err no export " + name;
  std::vector<std::string> texts;
  texts.reserve(args.size());
  std::vector<std::intptr_t> values;
  for (const auto& a : args) {
    if (a.rfind("i:", 0) == 0) {
      values.push_back(static_cast<std::intptr_t>(static_cast<int>(std::strtoll(a.c_str() + 2, nullptr, 10))));
    } else if (a.rfind("s:", 0) == 0) {
      texts.push_back(test_terminal::fromHex(a.substr(2)));
      values.push_back(reinterpret_cast<std::intptr_t>(texts.back().data()));
    } else if (a.rfind("w:", 0) == 0) {
      values.push_back(static_cast<int>(reinterpret_cast<std::intptr_t>(windowOf(std::atoi(a.c_str() + 2)))));
    } else if (a == "m:") {
      values.push_back(static_cast<int>(reinterpret_cast<std::intptr_t>(mainWindow)));
    } else if (a == "n:") {
      values.push_back(0);
    } else {
      return "err bad argument " + a;
    }
  }
  using P = std::intptr_t;
  std::intptr_t v[8] = {};
  for (std::size_t i = 0; i < values.size() && i < 8; ++i) v[i] = values[i];
  long long result = 0;
  switch (values.size()) {
    case 0: result = terminal::asFunction<long long(__stdcall*)()>(proc)(); break;
    case 1: result = terminal::asFunction<P(__stdcall*)(P)>(proc)(v[0]); break;
    case 2: result = terminal::asFunction<P(__stdcall*)(P, P)>(proc)(v[0], v[1]); break;
    case 3: result = terminal::asFunction<P(__stdcall*)(P, P, P)>(proc)(v[0], v[1], v[2]); break;
    case 6:
      result = terminal::asFunction<P(__stdcall*)(P, P, P, P, P, P)>(proc)(v[0], v[1], v[2], v[3], v[4], v[5]);
      break;
    case 8:
      result = terminal::asFunction<P(__stdcall*)(P, P, P, P, P, P, P, P)>(proc)(v[0], v[1], v[2], v[3], v[4], v[5],
                                                                                 v[6], v[7]);
      break;
    default: return "err unsupported argument count";
  }
  std::string answer;
  if (name == "LM_GetMessages" || name == "LM_QueryInternetMessages") {
    const char* text = reinterpret_cast<const char*>(static_cast<std::intptr_t>(result));
    answer = text ? "ok s:" + test_terminal::toHex(text) : std::string("ok n:");
  } else if (name == "TimeUTC") {
    answer = intAnswer(result);
  } else {
    // Everything else returns a 32-bit int: only the low half is meaningful.
    answer = intAnswer(static_cast<int>(result));
  }
  // The text arguments as they are after the call (an export may change them).
  for (const auto& text : texts) answer += " a:" + test_terminal::toHex(text.c_str());
  return answer;
}

std::string handle(const std::string& line) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  std::vector<std::string> args;
  for (std::string a; in >> a;) args.push_back(a);
  auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };

  if (command == "call") {
    const std::string name = arg(0);
    args.erase(args.begin());
    return callExport(name, args);
  }
  if (command == "chart")
    return intAnswer(static_cast<int>(reinterpret_cast<std::intptr_t>(windowOf(std::atoi(arg(0).c_str())))));
  if (command == "main") return intAnswer(static_cast<int>(reinterpret_cast<std::intptr_t>(mainWindow)));
  if (command == "ticks" || command == "clearticks") {
    HWND window = windowOf(std::atoi(arg(0).c_str()));
    std::lock_guard<std::mutex> lock(ticksLock);
    if (command == "clearticks") {
      ticks[window].clear();
      return "ok";
    }
    std::string answer = "ok";
    for (const auto& t : ticks[window])
      answer += " " + std::to_string(t.wParam) + "," + std::to_string(t.lParam) + "," + std::to_string(t.microseconds);
    return answer;
  }
  if (command == "autodrain" || command == "drained") {
    HWND window = windowOf(std::atoi(arg(0).c_str()));
    std::lock_guard<std::mutex> lock(ticksLock);
    if (command == "autodrain") {
      const std::string takeExport = arg(2).empty() ? "LM_GetMessages" : arg(2);
      drainHandles[window] = Drain{std::atoi(arg(1).c_str()), takeExport};
      return "ok";
    }
    std::string answer = "ok";
    for (const auto& text : drained[window]) answer += " " + test_terminal::toHex(text);
    return answer;
  }
  if (command == "lockmutex") {
    // Takes a mutex and never lets it go: a program that dies holding it.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, test_terminal::fromHex(arg(0)).c_str());
    if (!mutex) return "err mutex " + std::to_string(GetLastError());
    return WaitForSingleObject(mutex, 5000) == WAIT_OBJECT_0 ? "ok" : "err wait";
  }
  if (command == "ping") return "ok";
  if (command == "closechart") {
    HWND window = windowOf(std::atoi(arg(0).c_str()));
    if (!window || window == mainWindow) return "err no chart";
    SendMessageA(window, WM_CLOSE, 0, 0);  // destroyed by its own thread
    return "ok";
  }
  if (command == "freelib") {
    for (HMODULE m : libraryReferences) FreeLibrary(m);
    libraryReferences.clear();
    return "ok";
  }
  if (command == "loadlib") {
    HMODULE m = LoadLibraryA("Lumarel.dll");
    if (!m) return "err LoadLibrary " + std::to_string(GetLastError());
    libraryReferences.push_back(m);
    return "ok";
  }
  if (command == "hold" || command == "unhold") {
    const std::string path = test_terminal::fromHex(arg(0));
    if (command == "unhold") {
      auto found = heldFiles.find(path);
      if (found == heldFiles.end()) return "err not held";
      CloseHandle(found->second);
      heldFiles.erase(found);
      return "ok";
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "err open " + std::to_string(GetLastError());
    heldFiles[path] = file;
    return "ok";
  }
  if (command == "paint" || command == "pixels" || command == "resize" || command == "send" || command == "events" ||
      command == "setprop" || command == "getprop" || command == "ownproc") {
    HWND window = windowOf(std::atoi(arg(0).c_str()));
    if (!window) return "err no chart";
    return onWindowThread([&]() -> std::string {
      if (command == "paint") {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return "ok";
      }
      if (command == "pixels") return pixelsOf(window);
      if (command == "resize") {
        SetWindowPos(window, nullptr, 0, 0, std::atoi(arg(1).c_str()), std::atoi(arg(2).c_str()),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT client = {};
        GetClientRect(window, &client);
        return "ok " + std::to_string(client.right) + " " + std::to_string(client.bottom);
      }
      if (command == "send") {
        const LRESULT r = SendMessageA(window, static_cast<UINT>(std::strtoul(arg(1).c_str(), nullptr, 10)),
                                       static_cast<WPARAM>(std::strtoull(arg(2).c_str(), nullptr, 10)),
                                       static_cast<LPARAM>(std::strtoll(arg(3).c_str(), nullptr, 10)));
        return intAnswer(static_cast<long long>(r));
      }
      if (command == "events") {
        std::lock_guard<std::mutex> lock(eventsLock);
        const ChartEvents& e = events[window];
        return "ok " + std::to_string(e.paints) + " " + std::to_string(e.mouseMoves) + " " + std::to_string(e.leftUps) +
               " " + std::to_string(e.rightUps);
      }
      const std::string name = test_terminal::fromHex(arg(1));
      if (command == "setprop")
        return SetPropA(window, name.c_str(), reinterpret_cast<HANDLE>(std::strtoull(arg(2).c_str(), nullptr, 10)))
                   ? "ok"
                   : "err setprop";
      if (command == "getprop")
        return intAnswer(static_cast<long long>(reinterpret_cast<std::intptr_t>(GetPropA(window, name.c_str()))));
      return std::string("ok ") +
             (GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(windowProc) ? "1" : "0");
    });
  }
  if (command == "cursor" || command == "setcursor") {
    return onWindowThread([&]() -> std::string {
      if (command == "setcursor") {
        SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // IDC_ARROW
        return "ok";
      }
      return GetCursor() == LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)) ? "ok hand" : "ok other";  // IDC_HAND
    });
  }
  if (command == "quit") {
    PostMessageA(mainWindow, WM_CLOSE, 0, 0);
    return "ok";
  }
  return "err unknown command";
}

DWORD WINAPI controlThread(LPVOID) {
  const std::string name = test_terminal::pipeName(GetCurrentProcessId());
  for (;;) {
    HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 1 << 16, 1 << 16, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
      std::string pending;
      char buffer[65536];
      DWORD got = 0;
      while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
          const std::string answer = handle(pending.substr(0, end)) + "\n";
          pending.erase(0, end + 1);
          DWORD written = 0;
          WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr);
        }
      }
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  std::string title = "Test terminal";
  int chartCount = 1;
  std::string mainClass = "MetaTrader4TestTerminal";
  for (int i = 1; i < __argc; ++i) {
    const std::string a = __argv[i];
    if (a == "--title" && i + 1 < __argc)
      title = __argv[++i];
    else if (a == "--charts" && i + 1 < __argc)
      chartCount = std::atoi(__argv[++i]);
    else if (a == "--class" && i + 1 < __argc)
      mainClass = __argv[++i];
  }
  tickMessage = RegisterWindowMessageA(terminal::kTickMessageName);

  WNDCLASSA frame = {};
  frame.lpfnWndProc = windowProc;
  frame.hInstance = instance;
  frame.lpszClassName = mainClass.c_str();
  frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  RegisterClassA(&frame);
  WNDCLASSA chart = frame;
  chart.lpszClassName = "TestChart";
  chart.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  RegisterClassA(&chart);

  mainWindow = CreateWindowExA(0, frame.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                               nullptr, nullptr, instance, nullptr);
  for (int i = 0; i < chartCount; ++i) {
    charts.push_back(CreateWindowExA(0, chart.lpszClassName, ("Chart " + std::to_string(i)).c_str(),
                                     WS_CHILD | WS_VISIBLE | WS_BORDER, 10 + i * 30, 10 + i * 30, 400, 300, mainWindow,
                                     nullptr, instance, nullptr));
  }
  // As the terminal does for the first program that imports it.
  if (HMODULE library = LoadLibraryA("Lumarel.dll")) libraryReferences.push_back(library);
  CloseHandle(CreateThread(nullptr, 0, controlThread, nullptr, 0, nullptr));

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
