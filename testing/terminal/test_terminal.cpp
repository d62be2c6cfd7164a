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
  if (!WriteFile(pipe_, out.data(), static_cast<DWORD>(out.size()), &written, nullptr)) return "err write";
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
  if (value.rfind("i:", 0) == 0)
    v.number = std::stoll(value.substr(2));
  else if (value.rfind("s:", 0) == 0)
    v.text = fromHex(value.substr(2));
  else
    v.isNull = true;
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
    if (std::sscanf(item.c_str(), "%lld,%lld,%lld", &t.wParam, &t.lParam, &t.microseconds) == 3) found.push_back(t);
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

unsigned long Pixels::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFFul;
  const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
  return rgb[i] | (rgb[i + 1] << 8) | (static_cast<unsigned long>(rgb[i + 2]) << 16);
}

bool TestTerminal::paint(int chart) { return request("paint " + std::to_string(chart)) == "ok"; }

Pixels TestTerminal::pixels(int chart) {
  const std::string answer = request("pixels " + std::to_string(chart));
  Pixels p;
  std::istringstream in(answer);
  std::string ok, hex;
  if (!(in >> ok >> p.width >> p.height >> hex) || ok != "ok") return {};
  const std::string bytes = fromHex(hex);
  p.rgb.assign(bytes.begin(), bytes.end());
  if (p.rgb.size() != static_cast<std::size_t>(p.width) * p.height * 3) return {};
  return p;
}

SIZE TestTerminal::resize(int chart, int width, int height) {
  std::istringstream in(
      request("resize " + std::to_string(chart) + " " + std::to_string(width) + " " + std::to_string(height)));
  std::string ok;
  SIZE size = {};
  in >> ok >> size.cx >> size.cy;
  return size;
}

long long TestTerminal::send(int chart, UINT message, WPARAM wParam, LPARAM lParam) {
  const std::string answer = request("send " + std::to_string(chart) + " " + std::to_string(message) + " " +
                                     std::to_string(wParam) + " " + std::to_string(lParam));
  return answer.rfind("ok i:", 0) == 0 ? std::stoll(answer.substr(5)) : -1;
}

bool TestTerminal::cursorIsHand() { return request("cursor") == "ok hand"; }
void TestTerminal::setArrowCursor() { request("setcursor"); }

ChartEvents TestTerminal::events(int chart) {
  std::istringstream in(request("events " + std::to_string(chart)));
  std::string ok;
  ChartEvents e;
  in >> ok >> e.paints >> e.mouseMoves >> e.leftUps >> e.rightUps;
  return e;
}

bool TestTerminal::setProp(int chart, const std::string& name, long long value) {
  return request("setprop " + std::to_string(chart) + " " + toHex(name) + " " + std::to_string(value)) == "ok";
}

long long TestTerminal::getProp(int chart, const std::string& name) {
  const std::string answer = request("getprop " + std::to_string(chart) + " " + toHex(name));
  return answer.rfind("ok i:", 0) == 0 ? std::stoll(answer.substr(5)) : -1;
}

bool TestTerminal::ownWindowProc(int chart) { return request("ownproc " + std::to_string(chart)) == "ok 1"; }

DWORD TestTerminal::quit() {
  request("quit");
  const DWORD code = process_.waitForExit(10000);
  if (code == STILL_ACTIVE) process_.kill();
  return code;
}

}  // namespace test_terminal
