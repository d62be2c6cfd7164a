#pragma once
// Tests' side of the test terminal: start one in a copy folder, call the
// library's exports in it as an MQL4 program would, read what its charts got.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "testing/support/test_support.h"

namespace test_terminal {

// One argument of an export call.
struct Arg {
  std::string wire;
  static Arg i(long long value) { return {"i:" + std::to_string(value)}; }
  static Arg s(const std::string& text);
  static Arg chart(int index) { return {"w:" + std::to_string(index)}; }
  static Arg mainWindow() { return {"m:"}; }
  static Arg null() { return {"n:"}; }
};

struct Value {
  bool ok = false;
  bool isNull = false;
  long long number = 0;
  std::string text;
  std::string error;
  std::vector<std::string> textsAfter;  // the text arguments after the call
};

// A chart's client area as its window shows it.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;  // rows top to bottom, 3 bytes a pixel
  // COLORREF (0x00BBGGRR) of a pixel, or 0xFFFFFFFF outside.
  unsigned long at(int x, int y) const;
};

struct ChartEvents {
  long paints = 0, mouseMoves = 0, leftUps = 0, rightUps = 0;
};

struct Tick {
  long long wParam;
  long long lParam;
  long long microseconds;
};

// Makes the folder layout of a copy (experts, config, history, profiles) with
// terminal.exe and Lumarel.dll in its root. Returns the root.
std::string makeCopyFolder(const std::string& root);

std::string testTerminalExe();
std::string recorderExe();
std::string lumarelDll();

class TestTerminal {
 public:
  ~TestTerminal();
  // Starts copyFolder\terminal.exe and connects to its control pipe.
  // A main window class without "MetaTrader" makes a terminal discovery cannot find.
  bool start(const std::string& copyFolder, const std::string& title = "1: Test", int charts = 1,
             const std::string& windowClass = "");
  DWORD processId() const { return process_.id(); }
  HANDLE process() const { return process_.handle(); }

  Value call(const std::string& name, const std::vector<Arg>& args = {});
  int callInt(const std::string& name, const std::vector<Arg>& args = {});
  HWND chart(int index);
  HWND mainWindow();
  std::vector<Tick> ticks(int chart);  // -1: the main window
  void clearTicks(int chart);
  bool closeChart(int chart);
  bool freeLibrary();
  bool loadLibrary();
  bool autoDrain(int chart, int handle, const std::string& takeExport = "LM_GetMessages");
  std::vector<std::string> drained(int chart);
  bool lockMutex(const std::string& name);
  bool hold(const std::string& path);
  bool unhold(const std::string& path);
  // Asks the terminal to end and waits for it; kills it if it does not.
  DWORD quit();
  void kill() { process_.kill(); }

  // Charts as a person and the chart's own window procedure see them.
  bool paint(int chart);
  Pixels pixels(int chart);
  SIZE resize(int chart, int width, int height);  // the new client size
  long long send(int chart, UINT message, WPARAM wParam, LPARAM lParam);
  bool cursorIsHand();
  void setArrowCursor();
  ChartEvents events(int chart);
  bool setProp(int chart, const std::string& name, long long value);
  long long getProp(int chart, const std::string& name);
  bool ownWindowProc(int chart);  // the chart's procedure is the terminal's own

  std::string request(const std::string& line);

 private:
  testing_support::ChildProcess process_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  std::string pending_;
};

}  // namespace test_terminal
