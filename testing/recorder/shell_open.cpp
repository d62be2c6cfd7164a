#include "testing/recorder/shell_open.h"

#include <windows.h>

#include <sstream>

#include "testing/terminal/test_terminal.h"

namespace test_terminal {

namespace {

const char* const kCommandKeys[] = {"http\\shell\\open\\command", "https\\shell\\open\\command"};

std::string readDefault(const char* key) {
  char value[1024] = {};
  LONG size = sizeof value;
  RegQueryValueA(HKEY_CLASSES_ROOT, key, value, &size);
  return value;
}

void writeDefault(const char* key, const std::string& value) {
  RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, value.c_str(), static_cast<DWORD>(value.size()));
}

}  // namespace

ShellOpenRecorder::ShellOpenRecorder() : log_(dir_ / "opened.log") {
  const std::string exe = dir_ / "browser.exe";
  CopyFileA(recorderExe().c_str(), exe.c_str(), FALSE);
  for (int i = 0; i < 2; ++i) {
    previous_[i] = readDefault(kCommandKeys[i]);
    writeDefault(kCommandKeys[i], "\"" + exe + "\" --log \"" + log_ + "\" \"%1\"");
  }
}

ShellOpenRecorder::~ShellOpenRecorder() {
  for (int i = 0; i < 2; ++i) writeDefault(kCommandKeys[i], previous_[i]);
}

std::vector<std::string> ShellOpenRecorder::opened() const {
  std::vector<std::string> addresses;
  std::istringstream in(testing_support::readFile(log_));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("start ", 0) != 0) continue;
    const auto at = line.find(' ', 6);
    addresses.push_back(at == std::string::npos ? "" : line.substr(at + 1));
  }
  return addresses;
}

StartMarker::StartMarker() : program_(dir_ / "marker.exe") {
  CopyFileA(recorderExe().c_str(), program_.c_str(), FALSE);
}

bool StartMarker::started() const { return testing_support::fileExists(program_ + ".started"); }

}  // namespace test_terminal
