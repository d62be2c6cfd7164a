#include "installer/config/run_log.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "installer/config/install_ini.h"
#include "installer/config/log_text.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

// The start notification's thread logs its answer while the main thread
// goes on.
std::mutex g_logLock;
std::string g_logPath;

std::string now() {
  SYSTEMTIME time = {};
  GetLocalTime(&time);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", time.wYear, time.wMonth, time.wDay, time.wHour,
                time.wMinute, time.wSecond, time.wMilliseconds);
  return text;
}

std::string readWhole(const std::string& path) {
  terminal::UniqueFile file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > (1LL << 30)) return {};
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) return {};
  bytes.resize(got);
  return bytes;
}

void writeWhole(const std::string& path, const std::string& bytes) {
  terminal::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void cutToBound(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return;
  const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size <= kLogBound) return;
  writeWhole(path, keepLogTail(readWhole(path)));
}

// Each line is appended on its own, so that a run that ends abruptly still
// leaves what it did.
void append(const std::string& path, const std::string& line) {
  terminal::UniqueFile file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

void openRunLog(const std::string& iniPath) {
  const std::string name = readText(iniPath, keys::LogFile);
  if (!isPlainFileName(name)) return;
  char temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length >= sizeof temp) return;
  std::string path = std::string(temp, length) + name;
  if (path.size() > MAX_PATH - 1) return;
  {
    const std::lock_guard<std::mutex> hold(g_logLock);
    cutToBound(path);
    g_logPath = std::move(path);
  }
  logStep("package \"" + readText(iniPath, keys::Caption) + "\" in " + iniPath.substr(0, iniPath.rfind('\\') + 1));
}

void logStep(const std::string& text) {
  const std::lock_guard<std::mutex> hold(g_logLock);
  if (g_logPath.empty()) return;
  append(g_logPath, logLine(now(), text));
}

void closeRunLog(int exitCode) {
  logStep("exit code " + std::to_string(exitCode));
  const std::lock_guard<std::mutex> hold(g_logLock);
  if (g_logPath.empty()) return;
  cutToBound(g_logPath);
  g_logPath.clear();
}

}  // namespace installer
