#include "testing/support/test_support.h"

#include <tlhelp32.h>

#include <atomic>
#include <fstream>
#include <sstream>

namespace testing_support {

TempDir::TempDir(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  char base[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, base);
  for (;;) {
    path_ = std::string(base) + prefix + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(counter++);
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
}

TempDir::~TempDir() { removeTree(path_); }

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void makeFolders(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  CreateDirectoryA(path.c_str(), nullptr);
}

RemovedAtEnd::~RemovedAtEnd() {
  // The installer writes with redirection off, so the paths name the same
  // files only with it off here too.
  Wow64RedirectionOff nativePaths;
  for (const auto& path : paths_) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      removeTree(path);
    else
      DeleteFileA(path.c_str());
  }
}

std::string makeSampleCopy(const std::string& root) {
  makeFolders(root + "\\experts");
  makeFolders(root + "\\config");
  return root;
}

void removeTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        removeTree(child);
      else
        DeleteFileA(child.c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(path.c_str());
}

ChildProcess::~ChildProcess() { kill(); }

bool ChildProcess::start(const std::string& program, const std::string& arguments, const std::string& folder) {
  std::string commandLine = "\"" + program + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  return CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info_) != FALSE;
}

DWORD ChildProcess::waitForExit(DWORD timeoutMs) {
  if (!info_.hProcess) return STILL_ACTIVE;
  if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

void ChildProcess::kill() {
  if (!info_.hProcess) return;
  if (WaitForSingleObject(info_.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hProcess);
  CloseHandle(info_.hThread);
  info_ = {};
}

}  // namespace testing_support

namespace testing_support {

bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= timeoutMs) return done();
    Sleep(20);
  }
  return true;
}

std::size_t threadCount(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  std::size_t count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == processId) ++count;
  CloseHandle(snapshot);
  return count;
}

bool isWow64Process() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

Wow64RedirectionOff::Wow64RedirectionOff() {
  if (isWow64Process()) active_ = Wow64DisableWow64FsRedirection(&previous_) != FALSE;
}

Wow64RedirectionOff::~Wow64RedirectionOff() {
  if (active_) Wow64RevertWow64FsRedirection(previous_);
}

}  // namespace testing_support
