#include "testing/terminal/test_terminal.h"

#include <sstream>

#include "testing/terminal/protocol.h"

namespace test_terminal {

Arg Arg::s(const std::string& text) { return {"s:" + toHex(text)}; }

std::string testTerminalExe() { return testing_support::hostPath(TEST_TERMINAL_EXE); }
std::string recorderExe() { return testing_support::hostPath(RECORDER_EXE); }
std::string lumarelDll() { return testing_support::hostPath(LUMAREL_DLL); }

std::string makeCopyFolder(const std::string& root) {
  testing_support::makeSampleCopy(root);
  for (const char* sub : {"history", "profiles"}) CreateDirectoryA((root + "\\" + sub).c_str(), nullptr);
  CopyFileA(testTerminalExe().c_str(), (root + "\\terminal.exe").c_str(), FALSE);
  CopyFileA(lumarelDll().c_str(), (root + "\\Lumarel.dll").c_str(), FALSE);
  return root;
}

TestTerminal::~TestTerminal() {
  if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  process_.kill();
}

bool TestTerminal::start(const std::string& copyFolder, const std::string& title, int charts,
                         const std::string& windowClass) {
  const std::string exe = copyFolder + "\\terminal.exe";
  std::string arguments = "--title \"" + title + "\" --charts " + std::to_string(charts);
  if (!windowClass.empty()) arguments += " --class " + windowClass;
  if (!process_.start(exe, arguments, copyFolder)) return false;
  const std::string name = pipeName(process_.id());
  // A loaded machine may take a while to start a Wine process.
  for (int attempt = 0; attempt < 1200 && pipe_ == INVALID_HANDLE_VALUE; ++attempt) {
    pipe_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe_ == INVALID_HANDLE_VALUE) Sleep(25);
  }
  return pipe_ != INVALID_HANDLE_VALUE;
}

std::string TestTerminal::request(const std::string& line) {
  if (pipe_ == INVALID_HANDLE_VALUE) return "err not connected";
  const std::string out = line + "\n";
  DWORD written = 0;
  if (!WriteFile(pipe_, out.data(), static_cast<DWORD>(out.size()), &written, nullptr))
    return "err write";
  for (;;) {
    if (auto end = pending_.find('\n'); end != std::string::npos) {
      std::string answer = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return answer;
    }
    char buffer[65536];
    DWORD got = 0;
    if (!ReadFile(pipe_, buffer, sizeof buffer, &got, nullptr) || got == 0) return "err read";
    pending_.append(buffer, got);
  }
}

Value TestTerminal::call(const std::string& name, const std::vector<Arg>& args) {
  std::string line = "call " + name;
  for (const auto& a : args) line += " " + a.wire;
  const std::string answer = request(line);
  Value v;
  if (answer.rfind("ok ", 0) != 0) {
    v.error = answer;
    return v;
  }
  v.ok = true;
  std::istringstream words(answer.substr(3));
  std::string value;
  words >> value;
  if (value.rfind("i:", 0) == 0) v.number = std::stoll(value.substr(2));
  else if (value.rfind("s:", 0) == 0) v.text = fromHex(value.substr(2));
  else v.isNull = true;
  for (std::string after; words >> after;)
    if (after.rfind("a:", 0) == 0) v.textsAfter.push_back(fromHex(after.substr(2)));
  return v;
}

int TestTerminal::callInt(const std::string& name, const std::vector<Arg>& args) {
  return static_cast<int>(call(name, args).number);
}

HWND TestTerminal::chart(int index) {
  const std::string answer = request("chart " + std::to_string(index));
  if (answer.rfind("ok i:", 0) != 0) return nullptr;
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(std::stoll(answer.substr(5))));
}

HWND TestTerminal::mainWindow() {
  const std::string answer = request("main");
  if (answer.rfind("ok i:", 0) != 0) return nullptr;
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(std::stoll(answer.substr(5))));
}

std::vector<Tick> TestTerminal::ticks(int chart) {
  const std::string answer = request("ticks " + std::to_string(chart));
  std::vector<Tick> found;
  if (answer.rfind("ok", 0) != 0) return found;
  std::istringstream in(answer.substr(2));
  for (std::string item; in >> item;) {
    Tick t{};
    if (std::sscanf(item.c_str(), "%lld,%lld,%lld", &t.wParam, &t.lParam, &t.microseconds) == 3)
      found.push_back(t);
  }
  return found;
}

void TestTerminal::clearTicks(int chart) { request("clearticks " + std::to_string(chart)); }
bool TestTerminal::closeChart(int chart) { return request("closechart " + std::to_string(chart)) == "ok"; }
bool TestTerminal::freeLibrary() { return request("freelib") == "ok"; }
bool TestTerminal::loadLibrary() { return request("loadlib") == "ok"; }

bool TestTerminal::autoDrain(int chart, int handle, const std::string& takeExport) {
  return request("autodrain " + std::to_string(chart) + " " + std::to_string(handle) + " " + takeExport) == "ok";
}

std::vector<std::string> TestTerminal::drained(int chart) {
  const std::string answer = request("drained " + std::to_string(chart));
  std::vector<std::string> texts;
  if (answer.rfind("ok", 0) != 0) return texts;
  std::istringstream in(answer.substr(2));
  for (std::string item; in >> item;) texts.push_back(fromHex(item));
  return texts;
}

bool TestTerminal::lockMutex(const std::string& name) { return request("lockmutex " + toHex(name)) == "ok"; }

bool TestTerminal::hold(const std::string& path) { return request("hold " + toHex(path)) == "ok"; }
bool TestTerminal::unhold(const std::string& path) { return request("unhold " + toHex(path)) == "ok"; }

DWORD TestTerminal::quit() {
  request("quit");
  const DWORD code = process_.waitForExit(10000);
  if (code == STILL_ACTIVE) process_.kill();
  return code;
}

}  // namespace test_terminal
